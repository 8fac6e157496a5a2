#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace korvane::platform {

/// What a running process uses of the machine, as the kernel counts it.
struct ProcessUsage {
  std::uint64_t residentBytes = 0;      ///< memory held in RAM now
  std::chrono::microseconds cpuTime{};  ///< processor time in user and kernel mode so far
  int threads = 0;                      ///< threads it has now
};

/// The usage of process `processId`; std::nullopt when it does not exist (any more) or cannot be
/// read.
[[nodiscard]] std::optional<ProcessUsage> readProcessUsage(int processId);

/// Raises this process's limit of open descriptors (which the processes it starts inherit) to
/// at least `wanted`, as far as the hard limit allows; the limit now.
std::uint64_t raiseOpenFileLimit(std::uint64_t wanted);

}  // namespace korvane::platform
