#pragma once

#include <atomic>
#include <mutex>

#include "platform/Clock.h"

namespace korvane::testing {

/// A clock that only moves when the test moves it; sleeping moves it by the time slept.
class ManualClock final : public platform::Clock {
 public:
  platform::Tick tickCount() const override { return tick_.load(); }

  platform::LocalTime localTime() const override {
    std::lock_guard lock(mutex_);
    return local_;
  }

  std::int64_t secondsSinceEpoch() const override { return epochSeconds_.load(); }

  void sleepFor(std::chrono::milliseconds duration) const override { advance(duration); }

  void advance(std::chrono::milliseconds duration) const {
    tick_ += static_cast<platform::Tick>(duration.count());
    epochSeconds_ += duration.count() / 1000;
  }
  void setTick(platform::Tick tick) { tick_ = tick; }
  void setLocalTime(const platform::LocalTime& local) {
    std::lock_guard lock(mutex_);
    local_ = local;
  }
  void setSecondsSinceEpoch(std::int64_t seconds) { epochSeconds_ = seconds; }

 private:
  mutable std::atomic<platform::Tick> tick_{0};
  mutable std::atomic<std::int64_t> epochSeconds_{1'700'000'000};
  mutable std::mutex mutex_;
  platform::LocalTime local_{2024, 1, 31, 12, 0, 0, 0};
};

}  // namespace korvane::testing
