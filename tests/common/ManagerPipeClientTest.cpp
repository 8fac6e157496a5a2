#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/ManagerPipeClient.h"
#include "platform/LocalPipe.h"
#include "tests/common/ManagerPipeStub.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

using korvane::testing::ManagerPipeStub;
using korvane::testing::TempProgramDir;
using std::chrono::steady_clock;

TEST(ManagerPipeClient, SendsTheFourByteRequest) {
  TempProgramDir dir;
  dir.useForThisProcess();
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();

  std::string err;
  EXPECT_EQ(requestManagerReload(&err), ReloadResult::kConfirmed) << err;

  EXPECT_EQ(manager.requests(), 1);
  EXPECT_EQ(manager.lastRequest(), std::string("AAA\0", 4));
}

TEST(ManagerPipeClient, EachCallIsOneRequest) {
  TempProgramDir dir;
  dir.useForThisProcess();
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();

  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(requestManagerReload(), ReloadResult::kConfirmed);
    EXPECT_EQ(manager.requests(), i);
  }
}

TEST(ManagerPipeClient, ManagerThatDoesNotAnswerOkIsNotConfirmation) {
  struct Row {
    const char* name;
    ManagerPipeStub::Reply reply;
  };
  const Row rows[] = {
      {"closes without an answer", ManagerPipeStub::Reply::kCloseWithoutAnswer},
      {"answers something else", ManagerPipeStub::Reply::kWrongAnswer},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    dir.useForThisProcess();
    ManagerPipeStub manager(row.reply);
    ASSERT_TRUE(manager.running()) << manager.error();

    const auto start = steady_clock::now();
    std::string err;
    EXPECT_EQ(requestManagerReload(&err), ReloadResult::kNotConfirmed);
    EXPECT_FALSE(err.empty());
    // The closed connection ends the wait for the reply; it does not run out the reply bound.
    EXPECT_LT(steady_clock::now() - start, kReloadReplyWait);
    EXPECT_EQ(manager.requests(), 1);
  }
}

TEST(ManagerPipeClient, ManagerWhosePipeQueueIsFullIsNotConfirmation) {
  TempProgramDir dir;
  dir.useForThisProcess();
  std::string err;
  auto manager = platform::PipeServer::create(kManagerPipeName, platform::PipeAccess::kEveryone,
                                              &err);  // a manager that never accepts
  ASSERT_TRUE(manager) << err;
  std::vector<platform::PipeConnection> waiting;
  platform::PipeOpenFailure failure = platform::PipeOpenFailure::kError;
  for (int i = 0; i < 10'000; ++i) {  // the queue holds at most SOMAXCONN (4096) clients
    auto client = platform::openPipe(kManagerPipeName, &err, &failure);
    if (!client) {
      break;
    }
    waiting.push_back(std::move(*client));
  }
  if (failure != platform::PipeOpenFailure::kBusy) {
    GTEST_SKIP() << "the queue could not be filled: " << err;
  }

  EXPECT_EQ(requestManagerReload(&err), ReloadResult::kNotConfirmed) << err;
}

TEST(ManagerPipeClient, FailsAtOnceWithoutManager) {
  struct Row {
    const char* name;
    bool leaveEndedServer;
  };
  const Row rows[] = {
      {"no pipe was ever made", false},
      {"the manager has ended", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    dir.useForThisProcess();
    if (row.leaveEndedServer) {
      ManagerPipeStub ended;
      ASSERT_TRUE(ended.running()) << ended.error();
    }

    const auto start = steady_clock::now();
    std::string err;
    EXPECT_EQ(requestManagerReload(&err), ReloadResult::kNoManager);
    EXPECT_LT(steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(err.empty());
  }
}

TEST(ManagerPipeClient, ErrorPointerMayBeNull) {
  TempProgramDir dir;
  dir.useForThisProcess();
  EXPECT_EQ(requestManagerReload(nullptr), ReloadResult::kNoManager);
}

}  // namespace
}  // namespace korvane::common
