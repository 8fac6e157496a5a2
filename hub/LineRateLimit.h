#pragma once

#include <chrono>
#include <mutex>
#include <optional>

#include "platform/Clock.h"

namespace korvane::hub {

/// Lets one kind of log line through at most once per interval, hub-wide, so that a failure
/// that repeats with every frame shows in the log without flooding it (and without the writing
/// holding up the threads that switch frames).
class LineRateLimit {
 public:
  explicit LineRateLimit(std::chrono::milliseconds interval) : interval_(interval) {}

  /// True when the line may be written at `now`: no line was let through yet, or the last one
  /// was more than the interval before `now` (ticks compared modulo 2^32).
  bool allow(platform::Tick now) {
    const std::lock_guard lock(mutex_);
    if (last_ && platform::ticksBetween(*last_, now) <= interval_.count()) {
      return false;
    }
    last_ = now;
    return true;
  }

 private:
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::optional<platform::Tick> last_;
};

}  // namespace korvane::hub
