#include "platform/Clock.h"

#include <time.h>

#include <thread>

namespace korvane::platform {
namespace {

class SystemClock final : public Clock {
 public:
  Tick tickCount() const override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<Tick>(ms);
  }

  LocalTime localTime() const override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
  }

  std::int64_t secondsSinceEpoch() const override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
  }

  void sleepFor(std::chrono::milliseconds duration) const override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace korvane::platform
