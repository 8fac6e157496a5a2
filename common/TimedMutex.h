#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvane::common {

/// A mutex that can be waited for with a time limit, for the locks that the hub takes with a
/// one- or ten-second limit. Built from std::mutex and std::condition_variable rather than
/// std::timed_mutex, whose timed wait GCC 12's ThreadSanitizer cannot see (it then reports races
/// that are none); the behaviour is the same. Meets the Lockable requirements, so
/// std::unique_lock and std::lock_guard work with it.
class TimedMutex {
 public:
  void lock() {
    std::unique_lock guard(mutex_);
    released_.wait(guard, [&] { return !locked_; });
    locked_ = true;
  }

  bool try_lock() {
    std::lock_guard guard(mutex_);
    if (locked_) {
      return false;
    }
    locked_ = true;
    return true;
  }

  template <typename Rep, typename Period>
  bool try_lock_for(const std::chrono::duration<Rep, Period>& limit) {
    std::unique_lock guard(mutex_);
    if (!released_.wait_for(guard, limit, [&] { return !locked_; })) {
      return false;
    }
    locked_ = true;
    return true;
  }

  void unlock() {
    {
      std::lock_guard guard(mutex_);
      locked_ = false;
    }
    released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool locked_ = false;
};

}  // namespace korvane::common
