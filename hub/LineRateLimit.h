#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace korvane::hub {

/// A line that can repeat with every frame or every connection is written at most this often:
/// often enough to show that the failure goes on, rarely enough that a peer repeating it cannot
/// fill the disk (at most 86,400 lines of a kind a day, each followed by its count line).
inline constexpr std::chrono::milliseconds kRepeatedLineInterval{1000};

/// The line written after a rate-limited line when `count` lines of its kind were held back
/// since the last one written.
inline std::string leftOutLine(std::uint64_t count) {
  return std::to_string(count) + " similar lines left out";
}

/// Lets one kind of log line through at most once per interval, hub-wide, so that a failure
/// that repeats with every frame or every connection shows in the log without flooding it (and
/// without the writing holding up the threads that switch frames). Counts the lines it holds
/// back, so that the next line let through can say how many there were.
class LineRateLimit {
 public:
  explicit LineRateLimit(std::chrono::milliseconds interval = kRepeatedLineInterval)
      : interval_(interval) {}

  /// When the line may be written at `now` (no line was let through yet, or the last one was
  /// more than the interval before `now`, ticks compared modulo 2^32): the number of lines held
  /// back since the last one let through. std::nullopt when this line is held back; it is
  /// counted.
  std::optional<std::uint64_t> pass(platform::Tick now) {
    const std::lock_guard lock(mutex_);
    if (last_ && platform::ticksBetween(*last_, now) <= interval_.count()) {
      ++heldBack_;
      return std::nullopt;
    }
    last_ = now;
    const std::uint64_t heldBack = heldBack_;
    heldBack_ = 0;
    return heldBack;
  }

 private:
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::optional<platform::Tick> last_;
  std::uint64_t heldBack_ = 0;
};

}  // namespace korvane::hub
