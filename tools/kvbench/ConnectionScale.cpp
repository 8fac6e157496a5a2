#include "tools/kvbench/ConnectionScale.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ProcessUsage.h"

namespace korvane::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The hub's port threads settle (name lookups end, buffers are taken) shortly after the last
// login; memory is read after this pause so that it shows the steady state.
constexpr std::chrono::milliseconds kSettleTime{500};

// Every client sends a keep-alive this often, as a client does by default: a hub cuts a client
// it has not heard from in 20 s, and logging thousands in takes longer than that.
constexpr std::chrono::milliseconds kKeepAliveInterval{10000};
// The keep-alives are spread over the interval in this many steps, as independent clients
// would send them, rather than all at once.
constexpr int kKeepAliveSteps = 100;

/// The hubs' usage summed; none when one of them cannot be read.
std::optional<platform::ProcessUsage> usageOf(const std::vector<BenchTarget>& hubs) {
  platform::ProcessUsage total;
  for (const BenchTarget& hub : hubs) {
    if (!hub.hubProcessId) {
      return std::nullopt;
    }
    const auto usage = platform::readProcessUsage(*hub.hubProcessId);
    if (!usage) {
      return std::nullopt;
    }
    total.residentBytes += usage->residentBytes;
    total.cpuTime += usage->cpuTime;
    total.threads += usage->threads;
  }
  return total;
}

/// The clients of one hub, which its login thread adds to while the keep-alive thread sends.
struct HubClients {
  std::mutex mutex;
  std::vector<std::unique_ptr<common::HubClient>> clients;
  std::string error;
};

/// Sends each client a keep-alive once per kKeepAliveInterval until `stop`, and none while
/// `paused`.
void keepAlive(std::vector<HubClients>& hubs, const std::atomic<bool>& stop,
               const std::atomic<bool>& paused) {
  const auto step = kKeepAliveInterval / kKeepAliveSteps;
  for (int round = 0; !stop; round = (round + 1) % kKeepAliveSteps) {
    if (paused) {
      std::this_thread::sleep_for(step);
      continue;
    }
    for (HubClients& hub : hubs) {
      const std::lock_guard lock(hub.mutex);
      for (std::size_t i = static_cast<std::size_t>(round); i < hub.clients.size();
           i += kKeepAliveSteps) {
        std::string err;
        (void)hub.clients[i]->sendKeepAlive(&err);  // a failure shows as a client cut
      }
    }
    std::this_thread::sleep_for(step);
  }
}

/// What the hubs used during one watch.
struct Watch {
  std::chrono::duration<double> wallTime{};
  std::chrono::microseconds cpuTime{};
  std::optional<double> cpuPercent;
  std::optional<platform::ProcessUsage> end;
};

Watch watch(const std::vector<BenchTarget>& hubs, std::chrono::milliseconds time) {
  Watch result;
  const auto start = usageOf(hubs);
  const auto wallStart = SteadyClock::now();
  std::this_thread::sleep_for(time);
  result.end = usageOf(hubs);
  result.wallTime = SteadyClock::now() - wallStart;
  if (start && result.end) {
    result.cpuTime = result.end->cpuTime - start->cpuTime;
    result.cpuPercent =
        100.0 * std::chrono::duration<double>(result.cpuTime).count() / result.wallTime.count();
  }
  return result;
}

}  // namespace

ScaleResult measureConnectionScale(const std::vector<BenchTarget>& hubs, int clients,
                                   std::chrono::milliseconds idleTime) {
  ScaleResult result;
  if (const auto before = usageOf(hubs)) {
    result.idleHubBytes = before->residentBytes;
    result.idleHubThreads = before->threads;
  }
  std::vector<HubClients> connected(hubs.size());
  std::atomic<bool> stopKeepAlives{false};
  std::atomic<bool> pauseKeepAlives{false};
  std::thread keepAlives([&] { keepAlive(connected, stopKeepAlives, pauseKeepAlives); });
  const auto start = SteadyClock::now();
  std::vector<std::thread> logins;
  for (std::size_t h = 0; h < hubs.size(); ++h) {
    logins.emplace_back([&, h] {
      for (int i = 0; i < clients; ++i) {
        std::string err;
        auto client = connectBenchClient(hubs[h], true, &err);
        const std::lock_guard lock(connected[h].mutex);
        if (!client) {
          connected[h].error = "hub port " + std::to_string(hubs[h].port) + ", client " +
                               std::to_string(i + 1) + ": " + err;
          return;
        }
        connected[h].clients.push_back(std::move(client));
      }
    });
  }
  for (auto& login : logins) {
    login.join();
  }
  result.loginTime = SteadyClock::now() - start;
  for (HubClients& hub : connected) {
    result.loggedIn += static_cast<int>(hub.clients.size());
    if (result.error.empty()) {
      result.error = hub.error;
    }
  }
  if (result.error.empty()) {
    std::this_thread::sleep_for(kSettleTime);
    const auto busy = watch(hubs, idleTime);
    result.keepAliveTime = busy.wallTime;
    result.keepAliveCpuTime = busy.cpuTime;
    result.keepAliveCpuPercent = busy.cpuPercent;
    pauseKeepAlives = true;  // the last ones came less than 10 s ago: far from the hub's 20 s
    const auto quiet = watch(hubs, idleTime);
    pauseKeepAlives = false;
    result.idleTime = quiet.wallTime;
    result.idleCpuTime = quiet.cpuTime;
    result.idleCpuPercent = quiet.cpuPercent;
    if (quiet.end) {
      result.fullHubBytes = quiet.end->residentBytes;
      result.fullHubThreads = quiet.end->threads;
    }
    result.ok = true;
  }
  stopKeepAlives = true;
  keepAlives.join();
  return result;
}

}  // namespace korvane::tools
