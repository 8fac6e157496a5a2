#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/Process.h"
#include "platform/ProcessUsage.h"

namespace korvane::platform {
namespace {

TEST(ProcessUsage, ReadsOwnMemoryAndGrowingCpuTime) {
  const auto before = readProcessUsage(currentProcessId());
  ASSERT_TRUE(before);
  // A test program holds at least a megabyte of code and libraries in RAM.
  EXPECT_GT(before->residentBytes, 1u << 20);

  // Burn processor time until the kernel's count (10 ms steps) moves; bounded by wall time.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  volatile std::uint64_t sink = 0;
  std::optional<ProcessUsage> after;
  do {
    for (int i = 0; i < 1'000'000; ++i) {
      sink = sink + static_cast<std::uint64_t>(i);
    }
    after = readProcessUsage(currentProcessId());
    ASSERT_TRUE(after);
  } while (after->cpuTime <= before->cpuTime && std::chrono::steady_clock::now() < end);
  EXPECT_GT(after->cpuTime, before->cpuTime);
}

TEST(ProcessUsage, MissingProcessHasNoUsage) {
  // Linux process ids stop at 4194304 (PID_MAX_LIMIT); negative ones never exist.
  for (const int id : {-1, 4194305, 2147483647}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(readProcessUsage(id).has_value());
  }
}

}  // namespace
}  // namespace korvane::platform
