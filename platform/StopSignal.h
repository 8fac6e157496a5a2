#pragma once

#include <functional>
#include <memory>

namespace korvane::platform {

/// Turns the operating system's stop requests (SIGINT, SIGTERM) into a call of `onStop` on a
/// thread of its own, never inside a signal handler. Create it on the main thread before any
/// other thread starts, so that every thread leaves the signals to it. `onStop` runs at most once.
class StopSignalWatcher {
 public:
  explicit StopSignalWatcher(std::function<void()> onStop);
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane::platform
