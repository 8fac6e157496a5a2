#include "tools/kvbench/PingPong.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "tools/kvbench/BenchFrames.h"

namespace korvane::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A ping whose answer has not come within this time counts as lost.
constexpr std::chrono::milliseconds kAnswerLimit{1000};
// Pings before the measurement that let the hub learn both addresses; the first answered one
// ends the warm-up.
constexpr int kMaxWarmUpPings = 20;
// Upper bound of round trips kept, so memory stays small however long the run.
constexpr std::size_t kMaxSamples = 1'000'000;

/// Client B: sends every data frame back to where it came from, until the connection ends.
void answerPings(common::HubClient& client, const MacAddress& own) {
  std::vector<std::uint8_t> answer;
  receiveEach(client, [&](const common::ReceivedRecord& record) {
    if (record.isControl() || record.payload.size() < kMinBenchFrame) {
      return true;
    }
    answer.assign(record.payload.begin(), record.payload.end());
    std::copy(answer.begin() + 6, answer.begin() + 12, answer.begin());  // back to the sender
    std::copy(own.begin(), own.end(), answer.begin() + 6);
    return client.sendFrame(answer, common::kKindPlainFrame, nullptr);
  });
}

/// Sends ping `sequence` and waits for its answer; the round-trip time, or empty when none came
/// in time. Answers to earlier pings that come late are skipped.
std::optional<std::chrono::nanoseconds> pingOnce(common::HubClient& client,
                                                 std::vector<std::uint8_t>& ping,
                                                 std::uint32_t sequence, std::string* err) {
  setSequence(ping, sequence);
  const auto start = SteadyClock::now();
  if (!client.sendFrame(ping, common::kKindPlainFrame, err)) {
    return std::nullopt;
  }
  const auto isAnswer = [sequence](const common::ReceivedRecord& record) {
    return !record.isControl() && sequenceOf(record.payload) == sequence;
  };
  if (!receiveWanted(client, start + kAnswerLimit, isAnswer, err)) {
    return std::nullopt;
  }
  return SteadyClock::now() - start;
}

std::chrono::nanoseconds percentile(const std::vector<std::chrono::nanoseconds>& sorted,
                                    double share) {
  if (sorted.empty()) {
    return {};
  }
  const auto index = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

}  // namespace

LatencyResult measurePingPong(const BenchTarget& target, std::size_t frameSize,
                              std::chrono::milliseconds runTime, int run) {
  LatencyResult result;
  std::string err;
  auto pinger = connectBenchClient(target, false, &err);
  auto answerer = pinger ? connectBenchClient(target, false, &err) : nullptr;
  if (!pinger || !answerer) {
    result.error = err;
    return result;
  }
  pinger->setNoDelay(true);
  answerer->setNoDelay(true);
  const MacAddress pingerMac = benchMac(run, 0);
  const MacAddress answererMac = benchMac(run, 1);
  // The answerer's first frame teaches the hub its address (the pinger's is learned from the
  // pings).
  const auto hello =
      makeBenchFrame(kMinBenchFrame, pingerMac, answererMac, kProbeEtherType, 0xFFFFFFFF);
  if (!answerer->sendFrame(hello, common::kKindPlainFrame, &err)) {
    result.error = err;
    return result;
  }
  std::thread answering(answerPings, std::ref(*answerer), answererMac);

  auto ping = makeBenchFrame(frameSize, answererMac, pingerMac, kDataEtherType);
  std::uint32_t sequence = 0;
  bool warm = false;
  for (int i = 0; i < kMaxWarmUpPings && !warm; ++i) {
    warm = pingOnce(*pinger, ping, ++sequence, &err).has_value();
  }
  std::vector<std::chrono::nanoseconds> samples;
  if (!warm) {
    result.error = "no answer came through within " + std::to_string(kMaxWarmUpPings) + " s";
  } else {
    const auto stop = SteadyClock::now() + runTime;
    while (SteadyClock::now() < stop && samples.size() < kMaxSamples) {
      const auto roundTrip = pingOnce(*pinger, ping, ++sequence, &err);
      if (roundTrip) {
        samples.push_back(*roundTrip);
      } else {
        ++result.lost;
      }
    }
  }
  answerer->shutdown();
  answering.join();

  std::sort(samples.begin(), samples.end());
  result.roundTrips = samples.size();
  result.p50 = percentile(samples, 0.50);
  result.p99 = percentile(samples, 0.99);
  result.max = samples.empty() ? std::chrono::nanoseconds{} : samples.back();
  result.ok = result.error.empty() && !samples.empty();
  return result;
}

}  // namespace korvane::tools
