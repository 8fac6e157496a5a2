#include "hub/UpnpMapping.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ManualClock.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;

// A router stand-in that records each call with the clock's time; it maps the port once
// `addsUntilMapped` adds have come (0: it is mapped from the start, -1: never).
class RecordingMapper final : public PortMapper {
 public:
  RecordingMapper(const testing::ManualClock& clock, int addsUntilMapped)
      : clock_(clock), addsUntilMapped_(addsUntilMapped) {}

  common::UpnpCheck check(int, int, std::string* err) override {
    record("check");
    const bool mapped = addsUntilMapped_ >= 0 && adds_ >= addsUntilMapped_;
    *err = "no router answered";
    return mapped ? common::UpnpCheck::kMapped : common::UpnpCheck::kFailed;
  }
  bool add(int port, int internalPort, std::string* err) override {
    record("add " + std::to_string(port) + ">" + std::to_string(internalPort));
    ++adds_;
    *err = "AddPortMapping refused by the router: SOAP fault 718";
    return addsUntilMapped_ >= 0 && adds_ >= addsUntilMapped_;
  }

  struct Call {
    std::string what;
    std::uint32_t minute;
  };
  std::vector<Call> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void record(const std::string& what) {
    std::lock_guard lock(mutex_);
    calls_.push_back({what, clock_.tickCount() / 60000});
  }

  const testing::ManualClock& clock_;
  const int addsUntilMapped_;
  int adds_ = 0;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

struct MappingRun {
  std::vector<std::string> lines;  // with the minute of the clock: "61 SNAT Checking OK"
  std::vector<RecordingMapper::Call> calls;
};

// Runs the mapping thread until the clock passes `until`, then stops it.
MappingRun runMapping(int snatPort, int addsUntilMapped, std::chrono::minutes until) {
  testing::ManualClock clock;
  auto mapper = std::make_unique<RecordingMapper>(clock, addsUntilMapped);
  RecordingMapper& recorder = *mapper;
  std::mutex mutex;
  MappingRun run;
  UpnpMapping mapping(
      [&](std::string_view line) {
        std::lock_guard lock(mutex);
        run.lines.push_back(std::to_string(clock.tickCount() / 60000) + " " + std::string(line));
      },
      clock, snatPort, 7000, std::move(mapper));
  mapping.start([](const common::ThreadFailure& failure) { ADD_FAILURE() << failure.what; });
  while (clock.tickCount() < static_cast<std::uint32_t>(std::chrono::milliseconds(until).count())) {
    std::this_thread::yield();
  }
  mapping.stop();
  run.calls = recorder.calls();
  // The thread may have run on past `until` before the stop: keep only what came before.
  std::erase_if(run.lines, [&](const std::string& line) { return std::stoi(line) >= until.count(); });
  std::erase_if(run.calls, [&](const auto& call) { return call.minute >= until.count(); });
  return run;
}

TEST(UpnpMapping, MappedPortIsCheckedHourlyWithoutAdding) {
  const MappingRun run = runMapping(5000, 0, 150min);
  EXPECT_EQ(run.lines, (std::vector<std::string>{"0 SNAT Checking OK", "60 SNAT Checking OK",
                                                 "120 SNAT Checking OK"}));
  for (const auto& call : run.calls) {
    EXPECT_EQ(call.what, "check");
  }
}

TEST(UpnpMapping, LostMappingIsMadeAgainToTheHubsPort) {
  const MappingRun run = runMapping(5000, 1, 70min);
  EXPECT_EQ(run.lines, (std::vector<std::string>{"0 SNAT Reconfiguring OK", "60 SNAT Checking OK"}));
  ASSERT_GE(run.calls.size(), 3u);
  EXPECT_EQ(run.calls[1].what, "add 5000>7000");
}

TEST(UpnpMapping, NoRouterGivesFiveFailuresAMinuteApartThenSilenceTillTheHour) {
  const MappingRun run = runMapping(5000, -1, 61min);
  const std::string ng = " SNAT Reconfiguring NG : AddPortMapping refused by the router: SOAP fault 718";
  EXPECT_EQ(run.lines, (std::vector<std::string>{"0" + ng, "1" + ng, "2" + ng, "3" + ng, "4" + ng,
                                                 "60" + ng}));
}

TEST(UpnpMapping, SnatPortZeroAsksNothing) {
  const MappingRun run = runMapping(0, 0, 180min);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_TRUE(run.calls.empty());
}

TEST(UpnpMapping, StopEndsTheHourlyWaitAtOnce) {
  testing::ManualClock clock;
  // A clock whose sleeps take real time would hold a stop for an hour if the wait ignored it.
  struct RealSleepClock final : platform::Clock {
    platform::Tick tickCount() const override { return platform::systemClock().tickCount(); }
    platform::LocalTime localTime() const override { return {}; }
    std::int64_t secondsSinceEpoch() const override { return 0; }
    void sleepFor(std::chrono::milliseconds d) const override { platform::systemClock().sleepFor(d); }
  } realClock;
  UpnpMapping mapping([](std::string_view) {}, realClock, 0, 7000,
                      std::make_unique<RecordingMapper>(clock, 0));
  mapping.start([](const common::ThreadFailure& failure) { ADD_FAILURE() << failure.what; });
  const auto begin = std::chrono::steady_clock::now();
  mapping.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
}

}  // namespace
}  // namespace korvane::hub
