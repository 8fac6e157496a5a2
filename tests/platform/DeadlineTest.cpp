#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>

#include "platform/linux/Deadline.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

TEST(Deadline, PollTimeoutRoundsUpAndStaysInPollsRange) {
  struct Row {
    SteadyClock::duration left;
    int timeout;
  };
  const Row rows[] = {
      // Passed or reached: poll() must not wait at all.
      {-5s, 0},
      {0ns, 0},
      // A part of a millisecond waits a whole one, so a wait never ends before its deadline.
      {1ns, 1},
      {1ms, 1},
      {1ms + 1ns, 2},
      {1500us, 2},
      // poll() takes an int: longer waits are cut, never wrapped into negative (endless) ones.
      {std::chrono::milliseconds(INT_MAX), INT_MAX},
      {std::chrono::hours(24 * 30), INT_MAX},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.left.count()) + " ns");
    EXPECT_EQ(pollTimeout(row.left), row.timeout);
  }
}

TEST(Deadline, DeadlineAfterCutsLimitsItCannotAdd) {
  const auto before = SteadyClock::now();
  const auto longest = deadlineAfter(std::chrono::milliseconds::max());
  const auto negative = deadlineAfter(-5s);
  const auto after = SteadyClock::now();

  EXPECT_GE(longest, before + kLongestLimit);
  EXPECT_LE(longest, after + kLongestLimit);
  EXPECT_GE(negative, before);
  EXPECT_LE(negative, after);
}

}  // namespace
}  // namespace korvane::platform
