#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/kvbench/BenchTarget.h"

namespace korvane::tools {

/// What logged-in clients cost one or more hubs; the hubs' figures are summed.
struct ScaleResult {
  bool ok = false;
  std::string error;
  int loggedIn = 0;                           ///< clients that logged in, over all hubs
  std::chrono::duration<double> loginTime{};  ///< to connect and log all of them in
  std::optional<std::uint64_t> idleHubBytes;  ///< hubs' resident memory before the clients
  std::optional<std::uint64_t> fullHubBytes;  ///< and with all of them logged in
  std::optional<int> idleHubThreads;          ///< hubs' threads before the clients
  std::optional<int> fullHubThreads;          ///< and with all of them logged in
  std::optional<double> idleCpuPercent;       ///< hubs' processor use while they idle
  std::chrono::microseconds idleCpuTime{};    ///< processor time behind that share
  std::chrono::duration<double> idleTime{};   ///< how long the idle use was measured
  /// The same while the clients send their keep-alives (one each per 10 s).
  std::optional<double> keepAliveCpuPercent;
  std::chrono::microseconds keepAliveCpuTime{};
  std::chrono::duration<double> keepAliveTime{};
};

/// Logs `clients` clients in with keep-alives on each hub of `hubs` (one hub after another
/// within each hub, all hubs at once), keeps them alive, then measures the hubs for `idleTime`
/// while the clients send keep-alives and for `idleTime` while they send nothing. Memory, threads
/// and processor use need each hub's process id.
ScaleResult measureConnectionScale(const std::vector<BenchTarget>& hubs, int clients,
                                   std::chrono::milliseconds idleTime);

}  // namespace korvane::tools
