#include "panel/logic/PendingRefresh.h"

#include <gtest/gtest.h>

#include "tests/support/ManualClock.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

TEST(PendingRefresh, BurstGivesOneRefreshHalfASecondAfterTheFirstSignal) {
  testing::ManualClock clock;
  PendingRefresh refresh(clock);
  EXPECT_FALSE(refresh.due());
  EXPECT_TRUE(refresh.signal());
  clock.advance(200ms);
  EXPECT_FALSE(refresh.signal());  // part of the same burst: no second timer
  EXPECT_EQ(refresh.remaining(), 300ms);
  clock.advance(299ms);
  EXPECT_FALSE(refresh.signal());
  EXPECT_FALSE(refresh.due());
  clock.advance(1ms);
  EXPECT_TRUE(refresh.due());
  EXPECT_FALSE(refresh.due());
  EXPECT_EQ(refresh.remaining(), 0ms);
  // The next signal starts a new burst.
  EXPECT_TRUE(refresh.signal());
  EXPECT_EQ(refresh.remaining(), 500ms);
}

TEST(PendingRefresh, WrapOfTheTickCountDoesNoHarm) {
  testing::ManualClock clock;
  clock.setTick(0xFFFFFF00u);
  PendingRefresh refresh(clock);
  ASSERT_TRUE(refresh.signal());
  clock.advance(499ms);
  EXPECT_FALSE(refresh.due());
  clock.advance(1ms);
  EXPECT_TRUE(refresh.due());
}

}  // namespace
}  // namespace korvane::panel
