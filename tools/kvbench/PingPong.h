#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/kvbench/BenchTarget.h"

namespace korvane::tools {

/// Round-trip times of one record between two clients.
struct LatencyResult {
  bool ok = false;
  std::string error;
  std::uint64_t roundTrips = 0;  ///< round trips measured
  std::uint64_t lost = 0;        ///< pings without an answer within a second
  std::chrono::nanoseconds p50{};
  std::chrono::nanoseconds p99{};
  std::chrono::nanoseconds max{};
};

/// Client A sends one record of `frameSize` bytes to client B, which sends it straight back;
/// repeated one at a time for `runTime`. `run` makes the clients' addresses unique.
LatencyResult measurePingPong(const BenchTarget& target, std::size_t frameSize,
                              std::chrono::milliseconds runTime, int run);

}  // namespace korvane::tools
