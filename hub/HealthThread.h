#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "common/RunThread.h"
#include "platform/Clock.h"

namespace korvane::hub {

class PortManager;

/// How often the health thread runs the port manager's health check.
inline constexpr std::chrono::milliseconds kHealthCheckPeriod{500};

/// The health thread: every kHealthCheckPeriod (on the hub's clock) it lets the port manager
/// cut the ports that missed their login deadline or their keep-alives.
class HealthThread {
 public:
  /// A thread that checks `ports` every kHealthCheckPeriod of `clock`; an exception that escapes
  /// it goes to `onFailure`.
  HealthThread(const platform::Clock& clock, std::shared_ptr<PortManager> ports,
               common::ThreadFailureHandler onFailure);
  ~HealthThread();
  HealthThread(const HealthThread&) = delete;
  HealthThread& operator=(const HealthThread&) = delete;

  /// Starts the thread.
  void start();
  /// Stops the thread and waits for it (at most one period).
  void stop();

 private:
  void run();

  const platform::Clock& clock_;
  std::shared_ptr<PortManager> ports_;
  const common::ThreadFailureHandler onFailure_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace korvane::hub
