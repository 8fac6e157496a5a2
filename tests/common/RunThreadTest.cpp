#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "common/RunThread.h"

namespace korvane::common {
namespace {

enum class Phase : int { kFirst = 1020, kSecond = 1300 };

struct Reported {
  int calls = 0;
  std::string thread;
  std::string what;
  std::optional<int> step;
};

ThreadFailureHandler recordInto(Reported& reported) {
  return [&reported](const ThreadFailure& failure) {
    ++reported.calls;
    reported.thread = failure.thread;
    reported.what = failure.what;
    reported.step = failure.step;
  };
}

TEST(RunThread, EscapingExceptionIsReportedWithTheThreadsNameTextAndLastMarker) {
  Reported reported;
  ThreadProgress progress("ListenThread(IPv6Enabled)");
  runThread(
      progress,
      [&] {
        progress.mark(Phase::kFirst);
        progress.rename("ListenThread");
        progress.mark(Phase::kSecond);
        throw std::runtime_error("socket gone");
      },
      recordInto(reported));
  EXPECT_EQ(reported.calls, 1);
  EXPECT_EQ(reported.thread, "ListenThread");
  EXPECT_EQ(reported.what, "socket gone");
  EXPECT_EQ(reported.step, 1300);
}

TEST(RunThread, OtherExceptionsAreReportedAsCannotHandleAndABodyThatEndsIsNotReported) {
  Reported reported;
  runThread(
      "HealthThread", [] { throw 42; }, recordInto(reported));
  EXPECT_EQ(reported.calls, 1);
  EXPECT_EQ(reported.thread, "HealthThread");
  EXPECT_EQ(reported.what, "Cannot handle");
  EXPECT_FALSE(reported.step) << "a thread that keeps no markers";

  bool ran = false;
  runThread(
      "HealthThread", [&] { ran = true; }, recordInto(reported));
  EXPECT_TRUE(ran);
  EXPECT_EQ(reported.calls, 1);
}

TEST(RunThread, NoExceptionLeavesEvenWithoutOrFromTheHandler) {
  EXPECT_NO_THROW(runThread("a", [] { throw std::logic_error("x"); }, {}));
  EXPECT_NO_THROW(runThread(
      "b", [] { throw std::logic_error("x"); },
      [](const ThreadFailure&) { throw std::runtime_error("the handler fails too"); }));
}

}  // namespace
}  // namespace korvane::common
