#include "tools/kvbench/ConnectionScale.h"

#include <memory>
#include <thread>
#include <vector>

#include "platform/ProcessUsage.h"

namespace korvane::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The hub's port threads settle (name lookups end, buffers are taken) shortly after the last
// login; memory is read after this pause so that it shows the steady state.
constexpr std::chrono::milliseconds kSettleTime{500};

std::optional<platform::ProcessUsage> usageOf(const BenchTarget& target) {
  if (!target.hubProcessId) {
    return std::nullopt;
  }
  return platform::readProcessUsage(*target.hubProcessId);
}

}  // namespace

ScaleResult measureConnectionScale(const BenchTarget& target, int clients,
                                   std::chrono::milliseconds idleTime) {
  ScaleResult result;
  if (const auto before = usageOf(target)) {
    result.idleHubBytes = before->residentBytes;
  }
  std::vector<std::unique_ptr<common::HubClient>> connected;
  connected.reserve(static_cast<std::size_t>(clients));
  const auto start = SteadyClock::now();
  for (int i = 0; i < clients; ++i) {
    std::string err;
    auto client = connectBenchClient(target, true, &err);
    if (!client) {
      result.error = "client " + std::to_string(i + 1) + ": " + err;
      break;
    }
    connected.push_back(std::move(client));
  }
  result.loginTime = SteadyClock::now() - start;
  result.loggedIn = static_cast<int>(connected.size());
  if (!result.error.empty()) {
    return result;
  }

  std::this_thread::sleep_for(kSettleTime);
  const auto idleStart = usageOf(target);
  const auto wallStart = SteadyClock::now();
  std::this_thread::sleep_for(idleTime);
  const auto idleEnd = usageOf(target);
  result.idleTime = SteadyClock::now() - wallStart;
  if (idleStart && idleEnd) {
    result.fullHubBytes = idleEnd->residentBytes;
    result.idleCpuTime = idleEnd->cpuTime - idleStart->cpuTime;
    const auto cpu = std::chrono::duration<double>(result.idleCpuTime);
    result.idleCpuPercent = 100.0 * cpu.count() / result.idleTime.count();
  }
  result.ok = true;
  return result;
}

}  // namespace korvane::tools
