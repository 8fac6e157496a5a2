#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/kvbench/BenchTarget.h"

namespace korvane::tools {

/// One throughput measurement: one sender, `receivers` receivers.
struct ThroughputSpec {
  std::size_t frameSize = 64;       ///< bytes of each frame (the record adds its 32-byte header)
  int receivers = 1;                ///< 1 with unicast frames; K with broadcast frames
  bool broadcast = false;           ///< frames to ff:ff:ff:ff:ff:ff instead of the receiver
  std::size_t recordsPerWrite = 1;  ///< records the sender hands over per system call
  std::chrono::milliseconds runTime{3000};
};

/// What reached the receivers.
struct ThroughputResult {
  bool ok = false;
  std::string error;            ///< why the measurement failed
  std::uint64_t sent = 0;       ///< records the sender wrote
  std::uint64_t delivered = 0;  ///< records all receivers got together
  double seconds = 0;           ///< from the first write to the last record received
  double recordsPerSecond() const { return seconds > 0 ? delivered / seconds : 0; }
  double megabitsPerSecond(std::size_t frameSize) const;
  /// Share of the records sent that some receiver did not get (the hub drops for slow clients).
  double lossPercent(int receivers) const;
};

/// Runs one measurement against `target`; `run` makes the clients' addresses unique.
ThroughputResult measureThroughput(const BenchTarget& target, const ThroughputSpec& plan, int run);

}  // namespace korvane::tools
