// kvbench: measures a hub's switching (throughput, fan-out, latency, connection scale) and, for
// each traffic measurement, the same traffic through a bare relay in this process, the most
// that any relay reaches on this machine.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ProcessUsage.h"
#include "tools/kvbench/BareRelay.h"
#include "tools/kvbench/BenchHub.h"
#include "tools/kvbench/BenchOptions.h"
#include "tools/kvbench/BenchTarget.h"
#include "tools/kvbench/ConnectionScale.h"
#include "tools/kvbench/PingPong.h"
#include "tools/kvbench/Throughput.h"

namespace korvane::tools {
namespace {

// Small frames show the cost per record, full-size Ethernet frames the cost per byte.
constexpr std::size_t kSmallFrame = 64;
constexpr std::size_t kLargeFrame = 1500;
// Records per write of a batching sender: a quarter of the 256 that one hub pass takes, so
// that passes see several writes' worth as a busy client produces it.
constexpr std::size_t kBatchRecords = 64;
// Receivers of the fan-out measurements.
constexpr int kFanOuts[] = {8, 32};
// Descriptors kvbench asks for: the clients of 32 hubs of 512 each, with room to spare.
constexpr std::uint64_t kWantedOpenFiles = 65536;
// How long the connection-scale mode watches the idle hub.
constexpr std::chrono::milliseconds kIdleWatch{5000};
constexpr std::chrono::milliseconds kQuickIdleWatch{1000};

/// Where the traffic of one measurement goes, made fresh for each measurement so that no
/// measurement inherits the connections or the learned addresses of the one before.
class Targets {
 public:
  explicit Targets(const BenchOptions& options) : options_(options) {}

  /// Runs `measure` against a hub (the given one, or one started for it); false when there is
  /// no hub to measure.
  bool withHub(const std::function<void(const BenchTarget&)>& measure) {
    if (options_.relayOnly) {
      return false;
    }
    if (!options_.host.empty()) {
      measure(BenchTarget{"hub", options_.host, options_.port, true, std::nullopt});
      return true;
    }
    std::string err;
    auto hub = BenchHub::start(&err);
    if (!hub) {
      std::printf("  hub: cannot start kvhub: %s\n", err.c_str());
      return false;
    }
    measure(BenchTarget{"hub", "127.0.0.1", hub->port(), true, hub->processId()});
    return true;
  }

  /// Runs `measure` against `count` hubs: the given ones (on the given port and the ports
  /// after it), or ones started for it in one program directory; false when there are none.
  bool withHubs(int count, const std::function<void(const std::vector<BenchTarget>&)>& measure) {
    if (options_.relayOnly) {
      return false;
    }
    std::vector<BenchTarget> hubs;
    if (!options_.host.empty()) {
      for (int i = 0; i < count; ++i) {
        hubs.push_back(BenchTarget{"hub", options_.host, options_.port + i, true, std::nullopt});
      }
      measure(hubs);
      return true;
    }
    std::string err;
    auto started = BenchHub::start(&err, count);
    if (!started) {
      std::printf("  hub: cannot start kvhub: %s\n", err.c_str());
      return false;
    }
    const std::vector<int> ids = started->processIds();
    for (int i = 0; i < count; ++i) {
      hubs.push_back(BenchTarget{"hub", "127.0.0.1", started->ports()[static_cast<std::size_t>(i)],
                                 true, ids[static_cast<std::size_t>(i)]});
    }
    measure(hubs);
    return true;
  }

  /// Runs `measure` against a fresh bare relay.
  bool withRelay(const std::function<void(const BenchTarget&)>& measure) {
    BareRelay relay;
    std::string err;
    if (!relay.start(&err)) {
      std::printf("  relay: %s\n", err.c_str());
      return false;
    }
    measure(BenchTarget{"relay", "127.0.0.1", relay.port(), false, std::nullopt});
    return true;
  }

  int nextRun() { return ++run_; }

 private:
  const BenchOptions& options_;
  int run_ = 0;
};

std::string withThousands(double value) {
  std::string digits = std::to_string(static_cast<long long>(value + 0.5));
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return digits;
}

/// The rounds of one measurement, per target.
template <typename Result>
struct Rounds {
  std::vector<Result> hub;
  std::vector<Result> relay;
};

/// Runs `measure` `rounds` times against a hub and the relay in turn.
template <typename Result>
Rounds<Result> runRounds(Targets& targets, int rounds,
                         const std::function<Result(const BenchTarget&, int run)>& measure) {
  Rounds<Result> results;
  for (int round = 0; round < rounds; ++round) {
    targets.withHub([&](const BenchTarget& target) {
      results.hub.push_back(measure(target, targets.nextRun()));
    });
    targets.withRelay([&](const BenchTarget& target) {
      results.relay.push_back(measure(target, targets.nextRun()));
    });
  }
  return results;
}

/// The first failed round, or null when every round succeeded.
template <typename Result>
const Result* firstFailure(const std::vector<Result>& results) {
  for (const auto& result : results) {
    if (!result.ok) {
      return &result;
    }
  }
  return nullptr;
}

/// The median of `values` (the upper one of the middle two for an even count).
double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

/// The round whose rate is the median; `results` holds only successful rounds, at least one.
const ThroughputResult& medianRound(const std::vector<ThroughputResult>& results) {
  std::vector<const ThroughputResult*> sorted;
  for (const auto& result : results) {
    sorted.push_back(&result);
  }
  std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
    return a->recordsPerSecond() < b->recordsPerSecond();
  });
  return *sorted[sorted.size() / 2];
}

/// Prints one target's line; the median rate, or empty when no round was measured or one
/// failed.
std::optional<double> printThroughput(const char* target, const ThroughputSpec& plan,
                                      const std::vector<ThroughputResult>& results) {
  if (results.empty()) {
    return std::nullopt;
  }
  if (const auto* failed = firstFailure(results)) {
    std::printf("  %-6s failed: %s\n", target, failed->error.c_str());
    return std::nullopt;
  }
  const ThroughputResult& middle = medianRound(results);
  const auto [low, high] = std::minmax_element(
      results.begin(), results.end(),
      [](const auto& a, const auto& b) { return a.recordsPerSecond() < b.recordsPerSecond(); });
  std::printf("  %-6s %12s rec/s %9.1f Mbit/s  loss %5.1f%%  (rounds %s..%s rec/s)\n", target,
              withThousands(middle.recordsPerSecond()).c_str(),
              middle.megabitsPerSecond(plan.frameSize), middle.lossPercent(plan.receivers),
              withThousands(low->recordsPerSecond()).c_str(),
              withThousands(high->recordsPerSecond()).c_str());
  return middle.recordsPerSecond();
}

void runThroughput(Targets& targets, const BenchOptions& options, const std::string& title,
                   const ThroughputSpec& plan) {
  std::printf("%s\n", title.c_str());
  const auto rounds = runRounds<ThroughputResult>(
      targets, options.rounds,
      [&](const BenchTarget& target, int run) { return measureThroughput(target, plan, run); });
  const auto hub = printThroughput("hub", plan, rounds.hub);
  const auto relay = printThroughput("relay", plan, rounds.relay);
  if (hub && relay && *relay > 0) {
    std::printf("  hub/relay %.2f\n", *hub / *relay);
  }
  std::fflush(stdout);
}

void runUnicast(Targets& targets, const BenchOptions& options) {
  for (const std::size_t frame : {kSmallFrame, kLargeFrame}) {
    for (const std::size_t perWrite : {kBatchRecords, std::size_t{1}}) {
      ThroughputSpec plan;
      plan.frameSize = frame;
      plan.recordsPerWrite = perWrite;
      plan.runTime = options.runTime;
      runThroughput(targets, options,
                    "unicast, 2 clients, records of 32+" + std::to_string(frame) + " bytes, " +
                        std::to_string(perWrite) + " per write",
                    plan);
    }
  }
}

void runBroadcast(Targets& targets, const BenchOptions& options) {
  for (const std::size_t frame : {kSmallFrame, kLargeFrame}) {
    for (const int receivers : kFanOuts) {
      ThroughputSpec plan;
      plan.frameSize = frame;
      plan.receivers = receivers;
      plan.broadcast = true;
      plan.recordsPerWrite = kBatchRecords;
      plan.runTime = options.runTime;
      runThroughput(targets, options,
                    "broadcast, 1 sender to " + std::to_string(receivers) +
                        " receivers, records of 32+" + std::to_string(frame) + " bytes, " +
                        std::to_string(kBatchRecords) +
                        " per write (rates count every copy delivered)",
                    plan);
    }
  }
}

double microseconds(std::chrono::nanoseconds value) {
  return std::chrono::duration<double, std::micro>(value).count();
}

/// Prints one target's line; the median p50 and p99 in microseconds, or empty when no round
/// was measured or one failed.
std::optional<std::pair<double, double>> printLatency(const char* target,
                                                      const std::vector<LatencyResult>& results) {
  if (results.empty()) {
    return std::nullopt;
  }
  if (const auto* failed = firstFailure(results)) {
    std::printf("  %-6s failed: %s\n", target, failed->error.c_str());
    return std::nullopt;
  }
  std::vector<double> p50s;
  std::vector<double> p99s;
  double worst = 0;
  std::uint64_t roundTrips = 0;
  std::uint64_t lost = 0;
  for (const auto& result : results) {
    p50s.push_back(microseconds(result.p50));
    p99s.push_back(microseconds(result.p99));
    worst = std::max(worst, microseconds(result.max));
    roundTrips += result.roundTrips;
    lost += result.lost;
  }
  const double p50 = median(p50s);
  const double p99 = median(p99s);
  std::printf("  %-6s p50 %8.1f us  p99 %8.1f us  max %9.1f us  (%s round trips, %llu lost)\n",
              target, p50, p99, worst, withThousands(static_cast<double>(roundTrips)).c_str(),
              static_cast<unsigned long long>(lost));
  return std::make_pair(p50, p99);
}

void runPingPong(Targets& targets, const BenchOptions& options) {
  std::printf("ping-pong, 2 clients, one record of 32+%zu bytes at a time\n", kSmallFrame);
  const auto rounds =
      runRounds<LatencyResult>(targets, options.rounds, [&](const BenchTarget& target, int run) {
        return measurePingPong(target, kSmallFrame, options.runTime, run);
      });
  const auto hub = printLatency("hub", rounds.hub);
  const auto relay = printLatency("relay", rounds.relay);
  if (hub && relay && relay->first > 0 && relay->second > 0) {
    std::printf("  hub/relay p50 %.2f  p99 %.2f\n", hub->first / relay->first,
                hub->second / relay->second);
  }
  std::fflush(stdout);
}

double mebibytes(std::uint64_t bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void runScale(Targets& targets, const BenchOptions& options) {
  std::printf(
      "connection scale, %d hub(s) of %d clients that log in with keep-alives, one after "
      "another on each hub\n",
      options.scaleHubs, options.scaleClients);
  const auto idle = options.quick ? kQuickIdleWatch : kIdleWatch;
  const bool measured = targets.withHubs(options.scaleHubs, [&](const auto& hubs) {
    const ScaleResult result = measureConnectionScale(hubs, options.scaleClients, idle);
    std::printf("  hub    %d clients held, logged in in %.3f s (%.2f ms each)\n", result.loggedIn,
                result.loginTime.count(),
                result.loggedIn > 0 ? 1000 * result.loginTime.count() / result.loggedIn : 0.0);
    if (!result.ok) {
      std::printf("  hub    failed: %s\n", result.error.c_str());
      return;
    }
    if (result.idleHubBytes && result.fullHubBytes) {
      const double perClient =
          (static_cast<double>(*result.fullHubBytes) - static_cast<double>(*result.idleHubBytes)) /
          result.loggedIn / 1024.0;
      std::printf(
          "  hub    resident memory %.1f MiB without clients, %.1f MiB with them "
          "(%.1f KiB per client)\n",
          mebibytes(*result.idleHubBytes), mebibytes(*result.fullHubBytes), perClient);
    }
    if (result.idleHubThreads && result.fullHubThreads) {
      std::printf("  hub    threads %d without clients, %d with them\n", *result.idleHubThreads,
                  *result.fullHubThreads);
    }
    if (result.keepAliveCpuPercent) {
      std::printf(
          "  hub    processor use with their keep-alives (one each per 10 s): %.2f%% of one "
          "processor (%lld ms in %.1f s)\n",
          *result.keepAliveCpuPercent,
          static_cast<long long>(
              std::chrono::duration_cast<std::chrono::milliseconds>(result.keepAliveCpuTime)
                  .count()),
          result.keepAliveTime.count());
    }
    if (result.idleCpuPercent) {
      // The kernel counts processor time in clock ticks (10 ms), so a short watch of a quiet hub
      // may well read 0.
      std::printf(
          "  hub    processor use while they idle: %.2f%% of one processor (%lld ms in "
          "%.1f s)\n",
          *result.idleCpuPercent,
          static_cast<long long>(
              std::chrono::duration_cast<std::chrono::milliseconds>(result.idleCpuTime).count()),
          result.idleTime.count());
    } else {
      std::printf(
          "  hub    memory, threads and processor use not measured: kvbench did not start the "
          "hubs\n");
    }
  });
  if (!measured) {
    std::printf("  (no hub measured; a relay has no logins)\n");
  }
}

void printHeader(const BenchOptions& options) {
  const std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  std::string hub = options.relayOnly      ? "none (--relay-only)"
                    : options.host.empty() ? "a kvhub started by kvbench for each measurement"
                                           : options.host + ":" + std::to_string(options.port);
  std::printf(
      "kvbench %s, %u processors, %d round(s) of %.1f s per measurement (median shown); "
      "hub: %s\n",
      date, std::thread::hardware_concurrency(), options.rounds,
      std::chrono::duration<double>(options.runTime).count(), hub.c_str());
}

int run(const BenchOptions& options) {
  printHeader(options);
  Targets targets(options);
  for (const auto& mode : options.modes) {
    if (mode == "unicast") {
      runUnicast(targets, options);
    } else if (mode == "broadcast") {
      runBroadcast(targets, options);
    } else if (mode == "pingpong") {
      runPingPong(targets, options);
    } else if (mode == "scale") {
      runScale(targets, options);
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
}  // namespace korvane::tools

int main(int argc, char** argv) {
  using namespace korvane::tools;
  BenchOptions options;
  std::string err;
  if (!parseBenchOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &err)) {
    std::fprintf(stderr, "kvbench: %s\n", err.c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", benchUsage().c_str());
    return 0;
  }
  // Each client is a descriptor of this process, and each hub it starts inherits the limit.
  (void)korvane::platform::raiseOpenFileLimit(kWantedOpenFiles);
  return run(options);
}
