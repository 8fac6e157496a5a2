#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace korvane::platform {

/// What a running process uses of the machine, as the kernel counts it.
struct ProcessUsage {
  std::uint64_t residentBytes = 0;      ///< memory held in RAM now
  std::chrono::microseconds cpuTime{};  ///< processor time in user and kernel mode so far
};

/// The usage of process `processId`; std::nullopt when it does not exist (any more) or cannot be
/// read.
[[nodiscard]] std::optional<ProcessUsage> readProcessUsage(int processId);

}  // namespace korvane::platform
