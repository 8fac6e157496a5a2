#pragma once

#include <atomic>

namespace korvane::hub {

/// The hub's shutdown flag: set once, by whoever sees the end first (the stop command, a stop
/// signal, the manager's end), and looked at by every thread that waits for work.
class ShutdownFlag {
 public:
  /// Sets the flag; true for the one caller that set it first.
  bool request() {
    bool expected = false;
    return set_.compare_exchange_strong(expected, true);
  }
  /// Whether the hub is stopping.
  bool isSet() const { return set_.load(); }

 private:
  std::atomic<bool> set_{false};
};

}  // namespace korvane::hub
