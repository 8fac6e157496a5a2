#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvane::manager {

/// An auto-reset event: set() leaves it signalled until one waiter takes the signal. Requests
/// that arrive while nobody waits collapse into one.
class ReloadEvent {
 public:
  void set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    changed_.notify_one();
  }

  /// True when the event was signalled within `limit` (the signal is taken), false on time-out.
  bool waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return signalled_; })) {
      return false;
    }
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

}  // namespace korvane::manager
