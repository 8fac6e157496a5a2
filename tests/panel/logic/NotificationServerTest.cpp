#include "panel/logic/NotificationServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "common/NotifyPipe.h"
#include "platform/LocalPipe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

bool signal(std::uint32_t windowId) {
  std::string err;
  auto pipe = platform::openPipe(common::notifyPipeName(windowId), &err);
  return pipe.has_value();
}

TEST(NotificationServer, EveryConnectionIsOneSignal) {
  testing::TempProgramDir dir;
  dir.useForThisProcess();
  std::atomic<int> signals{0};
  NotificationServer server(77, [&] { ++signals; });
  server.start();
  ASSERT_TRUE(testing::waitUntil([&] { return signal(77); }, 5s));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(signal(77));
  }
  EXPECT_TRUE(testing::waitUntil([&] { return signals == 5; }, 5s)) << signals;
}

TEST(NotificationServer, StoppedServerCannotBeSignalled) {
  testing::TempProgramDir dir;
  dir.useForThisProcess();
  NotificationServer server(78, [] {});
  server.start();
  ASSERT_TRUE(testing::waitUntil([&] { return signal(78); }, 5s));
  server.stop();
  EXPECT_FALSE(signal(78));
  EXPECT_EQ(common::notifyPipeName(78), "ZERERAV_NOTIFY_78");
}

}  // namespace
}  // namespace korvane::panel
