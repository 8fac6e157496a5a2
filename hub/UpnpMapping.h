#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "common/RunThread.h"
#include "common/UpnpClient.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// What the mapping thread asks of the router; the UPnP client in production, a stand-in in tests.
class PortMapper {
 public:
  virtual ~PortMapper() = default;
  /// Whether the router maps `port` to `internalPort` of this computer (reason in `err`).
  virtual common::UpnpCheck check(int port, int internalPort, std::string* err) = 0;
  /// Asks the router to map `port` to `internalPort` of this computer (reason in `err`).
  virtual bool add(int port, int internalPort, std::string* err) = 0;
};

/// Keeps the hub's TCP port forwarded by the home router: once an hour it checks the mapping of
/// SNATPort and makes it again when it is gone, logging the outcome.
class UpnpMapping {
 public:
  using LogFunction = std::function<void(std::string_view)>;

  /// One check cycle per hour: the router is asked again after this long.
  static constexpr std::chrono::milliseconds kCycle = std::chrono::hours(1);
  /// A failed mapping is tried again after a minute, at most this many times a cycle, so that a
  /// missing router costs five log lines an hour and no more.
  static constexpr int kMaxAttempts = 5;
  static constexpr std::chrono::milliseconds kRetryInterval = std::chrono::minutes(1);

  /// Maps external `snatPort` (0: none, and nothing is ever sent) to the hub's `hubPort`;
  /// `mapper` defaults to the UPnP client.
  UpnpMapping(LogFunction log, const platform::Clock& clock, int snatPort, int hubPort,
              std::unique_ptr<PortMapper> mapper = nullptr);
  ~UpnpMapping();
  UpnpMapping(const UpnpMapping&) = delete;
  UpnpMapping& operator=(const UpnpMapping&) = delete;

  /// Starts the thread; an exception that escapes it goes to `onFailure`.
  void start(common::ThreadFailureHandler onFailure);
  /// Ends any wait or router exchange within 100 ms and joins the thread.
  void stop();

 private:
  void run();
  void runCycle();
  /// Waits `duration` on the clock; false when a stop came first.
  bool waitFor(std::chrono::milliseconds duration);

  LogFunction log_;
  const platform::Clock& clock_;
  const int snatPort_;
  const int hubPort_;
  std::unique_ptr<PortMapper> mapper_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace korvane::hub
