#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/RunThread.h"
#include "manager/DnsUpdate.h"
#include "platform/Clock.h"
#include "platform/FileStamp.h"

namespace korvane::manager {

/// How often the configuration file is looked at: a new pass code is picked up this soon.
inline constexpr std::chrono::milliseconds kDnsCheckInterval{1000};
/// An unchanged pass code is sent again this often, so the name follows a new address of the
/// machine within a minute.
inline constexpr std::chrono::milliseconds kDnsRepeatInterval{60'000};

/// Keeps the machine's DNS name current on a thread of its own, so that an update waiting on a
/// slow service never holds the manager's reloads: every second it looks at the configuration
/// file; a new version of it that holds a pass code deletes the DNS log and updates at once, an
/// unchanged pass code is sent again every 60 s, and while there is no pass code the DNS log is
/// deleted. Updates run one at a time.
class DnsUpdateScheduler {
 public:
  /// Sends one update with the pass code; the manager's is runDnsUpdate.
  using Update = std::function<void(const std::string& passCode)>;

  /// Watches `configPath` and keeps `settings.logPath`; `update`, when given, replaces
  /// runDnsUpdate (tests count the calls).
  DnsUpdateScheduler(std::string configPath, DnsUpdateSettings settings,
                     const platform::Clock& clock, Update update = {});
  ~DnsUpdateScheduler();
  DnsUpdateScheduler(const DnsUpdateScheduler&) = delete;
  DnsUpdateScheduler& operator=(const DnsUpdateScheduler&) = delete;

  /// Starts the thread, which checks at once and then every kDnsCheckInterval; an exception
  /// that escapes it goes to `onFailure`. Nothing once stop() was called.
  void start(common::ThreadFailureHandler onFailure);
  /// Cancels an update under way and joins the thread; it returns within about a second.
  void stop();

  /// One check: what the thread does every second (tests call it directly).
  void check();

 private:
  void loop();
  void removeLog();
  void sendUpdate();

  const std::string configPath_;
  DnsUpdateSettings settings_;
  const platform::Clock& clock_;
  Update update_;
  std::optional<platform::FileStamp> mark_;
  std::string passCode_;
  std::optional<platform::Tick> lastUpdate_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;  // guards the wake-up of the thread
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace korvane::manager
