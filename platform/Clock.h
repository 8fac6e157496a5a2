#pragma once

#include <chrono>
#include <cstdint>

namespace korvane::platform {

/// Milliseconds of a monotonic clock as an unsigned 32-bit count that wraps after 49.7 days.
using Tick = std::uint32_t;

/// Milliseconds from `earlier` to `later`, taken modulo 2^32 so that one wrap of the count
/// between the two readings does no harm.
constexpr std::uint32_t ticksBetween(Tick earlier, Tick later) {
  return static_cast<std::uint32_t>(later - earlier);
}

/// A calendar date and time of day in the machine's local time zone.
struct LocalTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

/// The source of time for everything whose behaviour depends on it. Production code takes the
/// system clock; tests hand in a clock that they move by hand, so nothing has to sleep.
class Clock {
 public:
  virtual ~Clock() = default;

  /// The monotonic millisecond count.
  virtual Tick tickCount() const = 0;
  /// The wall-clock date and time in local time.
  virtual LocalTime localTime() const = 0;
  /// Seconds since 1970-01-01 UTC, 64 bits wide so that it outlives 2038.
  virtual std::int64_t secondsSinceEpoch() const = 0;
  /// Waits for `duration`; a test clock moves its time forward instead of waiting.
  virtual void sleepFor(std::chrono::milliseconds duration) const = 0;
};

/// The operating system's clock.
Clock& systemClock();

}  // namespace korvane::platform
