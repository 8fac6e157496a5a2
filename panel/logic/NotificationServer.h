#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/Clock.h"
#include "platform/LocalPipe.h"

namespace korvane::panel {

/// The notification pipe of one status window: every connection a hub makes to it is one
/// signal that the hub's connections changed. Served on a thread of its own, which only calls
/// `onSignal`; the window (or the command-line watcher) then asks the hub for its list again.
class NotificationServer {
 public:
  NotificationServer(std::uint32_t windowId, std::function<void()> onSignal,
                     const platform::Clock& clock = platform::systemClock());
  ~NotificationServer();
  NotificationServer(const NotificationServer&) = delete;
  NotificationServer& operator=(const NotificationServer&) = delete;

  /// Creates the pipe (retrying every second while that fails) and starts serving.
  void start();
  /// Stops serving and removes the pipe; the hub then drops this window from its list. Safe to
  /// call twice.
  void stop();

 private:
  void serve();

  const std::uint32_t windowId_;
  const std::function<void()> onSignal_;
  const platform::Clock& clock_;
  std::atomic<bool> stopping_{false};
  std::mutex serverMutex_;  // guards creating the pipe against stop() closing it
  std::optional<platform::PipeServer> server_;
  std::thread thread_;
};

}  // namespace korvane::panel
