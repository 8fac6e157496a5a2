#include "tools/kvbench/Throughput.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "common/ClientRecord.h"
#include "tools/kvbench/BenchFrames.h"

namespace korvane::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A path through the hub works once the receiver's address is learned and every client is
// logged in; probes go out at this pace until each receiver has seen one, at most this often.
constexpr std::chrono::milliseconds kProbeWait{100};
constexpr int kMaxProbes = 50;

// After the sender stops, receivers are drained until every record came or nothing more came
// for this long (the rest was dropped), and never longer than the bound.
constexpr std::chrono::milliseconds kDrainQuiet{500};
constexpr std::chrono::milliseconds kDrainBound{10000};
constexpr std::chrono::milliseconds kDrainPoll{20};

struct Receiver {
  std::unique_ptr<common::HubClient> client;
  std::atomic<std::uint64_t> records{0};
  std::atomic<SteadyClock::rep> lastArrival{0};
  std::thread thread;
};

void countRecords(Receiver& receiver) {
  receiveEach(*receiver.client, [&receiver](const common::ReceivedRecord& record) {
    if (!record.isControl() && etherTypeOf(record.payload) == kDataEtherType) {
      receiver.records.fetch_add(1, std::memory_order_relaxed);
      receiver.lastArrival.store(SteadyClock::now().time_since_epoch().count(),
                                 std::memory_order_relaxed);
    }
    return true;
  });
}

/// True once `receiver` got a probe frame within kProbeWait.
bool sawProbe(common::HubClient& receiver) {
  const auto isProbe = [](const common::ReceivedRecord& record) {
    return !record.isControl() && etherTypeOf(record.payload) == kProbeEtherType;
  };
  return receiveWanted(receiver, SteadyClock::now() + kProbeWait, isProbe, nullptr);
}

/// Sends probes until every receiver has seen one: the hub has learned the addresses and
/// logged every client in.
bool probePaths(common::HubClient& sender, std::vector<std::unique_ptr<Receiver>>& receivers,
                const MacAddress& destination, const MacAddress& source, std::string* err) {
  const auto probe = makeBenchFrame(kMinBenchFrame, destination, source, kProbeEtherType);
  std::vector<bool> seen(receivers.size(), false);
  for (int attempt = 0; attempt < kMaxProbes; ++attempt) {
    if (!sender.sendFrame(probe, common::kKindPlainFrame, err)) {
      return false;
    }
    for (std::size_t i = 0; i < receivers.size(); ++i) {
      seen[i] = seen[i] || sawProbe(*receivers[i]->client);
    }
    if (std::all_of(seen.begin(), seen.end(), [](bool s) { return s; })) {
      return true;
    }
  }
  *err = "no probe frame came through within " + std::to_string(kMaxProbes * kProbeWait.count()) +
         " ms";
  return false;
}

std::uint64_t deliveredSoFar(const std::vector<std::unique_ptr<Receiver>>& receivers) {
  std::uint64_t total = 0;
  for (const auto& receiver : receivers) {
    total += receiver->records.load(std::memory_order_relaxed);
  }
  return total;
}

/// Waits until the receivers have everything or nothing more comes.
void drain(const std::vector<std::unique_ptr<Receiver>>& receivers, std::uint64_t expected) {
  const auto bound = SteadyClock::now() + kDrainBound;
  std::uint64_t last = deliveredSoFar(receivers);
  auto lastChange = SteadyClock::now();
  while (last < expected && SteadyClock::now() < bound &&
         SteadyClock::now() - lastChange < kDrainQuiet) {
    std::this_thread::sleep_for(kDrainPoll);
    const std::uint64_t now = deliveredSoFar(receivers);
    if (now != last) {
      last = now;
      lastChange = SteadyClock::now();
    }
  }
}

ThroughputResult failed(std::string error) {
  ThroughputResult result;
  result.error = std::move(error);
  return result;
}

}  // namespace

double ThroughputResult::megabitsPerSecond(std::size_t frameSize) const {
  return recordsPerSecond() * static_cast<double>(common::kRecordHeaderSize + frameSize) * 8 / 1e6;
}

double ThroughputResult::lossPercent(int receivers) const {
  const double expected = static_cast<double>(sent) * receivers;
  return expected > 0 ? 100.0 * (expected - static_cast<double>(delivered)) / expected : 0;
}

ThroughputResult measureThroughput(const BenchTarget& target, const ThroughputSpec& plan, int run) {
  std::string err;
  auto sender = connectBenchClient(target, false, &err);
  if (!sender) {
    return failed("sender: " + err);
  }
  std::vector<std::unique_ptr<Receiver>> receivers;
  for (int i = 1; i <= plan.receivers; ++i) {
    auto receiver = std::make_unique<Receiver>();
    receiver->client = connectBenchClient(target, false, &err);
    if (!receiver->client) {
      return failed("receiver " + std::to_string(i) + ": " + err);
    }
    receivers.push_back(std::move(receiver));
  }
  const MacAddress source = benchMac(run, 0);
  const MacAddress destination = plan.broadcast ? kBroadcastMac : benchMac(run, 1);
  if (!plan.broadcast) {
    // The hub learns where the receiver lives from a frame it sends.
    const auto hello = makeBenchFrame(kMinBenchFrame, source, destination, kProbeEtherType);
    if (!receivers[0]->client->sendFrame(hello, common::kKindPlainFrame, &err)) {
      return failed("receiver: " + err);
    }
  }
  if (!probePaths(*sender, receivers, destination, source, &err)) {
    return failed(err);
  }

  for (auto& receiver : receivers) {
    receiver->thread = std::thread(countRecords, std::ref(*receiver));
  }
  const auto frame = makeBenchFrame(plan.frameSize, destination, source, kDataEtherType);
  const std::vector<std::span<const std::uint8_t>> batch(plan.recordsPerWrite, frame);
  ThroughputResult result;
  const auto start = SteadyClock::now();
  const auto stop = start + plan.runTime;
  while (SteadyClock::now() < stop) {
    if (!sender->sendFrames(batch, common::kKindPlainFrame, &err)) {
      result.error = "sender: " + err;
      break;
    }
    result.sent += batch.size();
  }
  drain(receivers, result.sent * receivers.size());
  for (auto& receiver : receivers) {
    receiver->client->shutdown();
    receiver->thread.join();
  }
  SteadyClock::rep lastArrival = 0;
  for (const auto& receiver : receivers) {
    lastArrival = std::max(lastArrival, receiver->lastArrival.load());
  }
  result.delivered = deliveredSoFar(receivers);
  const auto end =
      result.delivered > 0 ? SteadyClock::time_point(SteadyClock::duration(lastArrival)) : stop;
  result.seconds = std::chrono::duration<double>(end - start).count();
  result.ok = result.error.empty();
  return result;
}

}  // namespace korvane::tools
