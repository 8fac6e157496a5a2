#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/kvbench/BenchTarget.h"

namespace korvane::tools {

/// What `clients` logged-in clients cost a hub.
struct ScaleResult {
  bool ok = false;
  std::string error;
  int loggedIn = 0;                           ///< clients that logged in
  std::chrono::duration<double> loginTime{};  ///< to connect and log all of them in, one by one
  std::optional<std::uint64_t> idleHubBytes;  ///< hub's resident memory before the clients
  std::optional<std::uint64_t> fullHubBytes;  ///< and with all of them logged in
  std::optional<double> idleCpuPercent;       ///< hub's processor use while they idle
  std::chrono::microseconds idleCpuTime{};    ///< processor time behind that share
  std::chrono::duration<double> idleTime{};   ///< how long the idle use was measured
};

/// Logs `clients` clients in with keep-alives, then measures the hub while they idle for
/// `idleTime`. Memory and processor use need the hub's process id in `target`.
ScaleResult measureConnectionScale(const BenchTarget& target, int clients,
                                   std::chrono::milliseconds idleTime);

}  // namespace korvane::tools
