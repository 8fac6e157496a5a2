#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <future>
#include <thread>

#include "platform/ProcessWatch.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 10s;  // a limit that is never reached when the code works

/// A forked child that lives until the test closes its end of a pipe, so the test decides
/// exactly when it ends. Reaped when the object goes.
class ControlledChild {
 public:
  ControlledChild() {
    int ends[2] = {-1, -1};
    if (pipe(ends) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      ::close(ends[1]);
      char byte = 0;
      while (read(ends[0], &byte, 1) > 0) {
      }
      _exit(0);
    }
    ::close(ends[0]);
    release_ = ends[1];
  }
  ~ControlledChild() {
    end();
    if (pid_ > 0) {
      (void)waitpid(pid_, nullptr, 0);
    }
  }
  ControlledChild(const ControlledChild&) = delete;
  ControlledChild& operator=(const ControlledChild&) = delete;

  int pid() const { return pid_; }
  /// Lets the child exit (it is not reaped, so it stays a zombie until the object goes).
  void end() {
    if (release_ >= 0) {
      ::close(release_);
      release_ = -1;
    }
  }

 private:
  int pid_ = -1;
  int release_ = -1;
};

TEST(ProcessWatch, ReturnsWhenTheWatchedProcessEnds) {
  ControlledChild child;
  ASSERT_GT(child.pid(), 0);

  auto watching = std::async(std::launch::async, [&] { return waitForProcessEnd(child.pid()); });
  EXPECT_EQ(watching.wait_for(100ms), std::future_status::timeout)
      << "returned while the process was still running";

  child.end();
  ASSERT_EQ(watching.wait_for(kGenerous), std::future_status::ready);
  EXPECT_TRUE(watching.get());
}

TEST(ProcessWatch, WatchesAProcessThatIsNotItsChild) {
  // The hub watches its manager, which is its parent, not its child: here a second child
  // watches the first one, its sibling.
  ControlledChild watched;
  ASSERT_GT(watched.pid(), 0);
  const pid_t watcher = fork();
  ASSERT_GE(watcher, 0);
  if (watcher == 0) {
    watched.end();  // this copy of the release end would otherwise keep the sibling alive
    _exit(waitForProcessEnd(watched.pid()) ? 0 : 1);
  }

  std::this_thread::sleep_for(50ms);
  int status = 0;
  EXPECT_EQ(waitpid(watcher, &status, WNOHANG), 0) << "the watcher ended before the process";

  watched.end();
  const auto end = std::chrono::steady_clock::now() + kGenerous;
  pid_t done = 0;
  while (done == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(5ms);
    done = waitpid(watcher, &status, WNOHANG);
  }
  ASSERT_EQ(done, watcher) << "the watcher did not see the process end";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ProcessWatch, FailsAtOnceForAProcessThatCannotBeWatched) {
  // A process that ended and was reaped: its number names nobody now.
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) {
    _exit(0);
  }
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);

  struct Row {
    const char* what;
    int processId;
  };
  const Row rows[] = {
      {"ended and reaped", gone},
      {"zero", 0},
      {"negative", -1},
      {"most negative", INT_MIN},
      {"beyond any process number", INT_MAX},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto watching =
        std::async(std::launch::async, [&] { return waitForProcessEnd(row.processId); });
    ASSERT_EQ(watching.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(watching.get());
  }
}

}  // namespace
}  // namespace korvane::platform
