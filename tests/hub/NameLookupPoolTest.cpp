// Unit tests of the bounded pool that runs the hub's reverse name lookups.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "hub/NameLookupPool.h"

namespace korvane::hub {
namespace {

constexpr std::chrono::seconds kWait{10};

/// Jobs that block until the test opens the gate, as lookups blocked on a silent name server do;
/// records how many ran at once.
class GatedJobs {
 public:
  NameLookupPool::Job job() {
    return [this] {
      std::unique_lock lock(mutex_);
      ++running_;
      peak_ = std::max(peak_, running_);
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
      --running_;
      ++done_;
      changed_.notify_all();
    };
  }
  bool waitUntilRunning(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] { return running_ == count; });
  }
  bool waitUntilDone(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] { return done_ == count; });
  }
  void open() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  int peak() {
    const std::lock_guard lock(mutex_);
    return peak_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int running_ = 0;
  int peak_ = 0;
  int done_ = 0;
  bool open_ = false;
};

TEST(NameLookupPool, RunsAtMostItsThreadsAndRefusesBeyondItsQueue) {
  constexpr int kThreads = 2;
  constexpr int kQueued = 3;
  GatedJobs jobs;
  {
    NameLookupPool pool(kThreads, kQueued);
    for (int i = 0; i < kThreads; ++i) {
      ASSERT_TRUE(pool.tryPost(jobs.job()));
    }
    ASSERT_TRUE(jobs.waitUntilRunning(kThreads));
    for (int i = 0; i < kQueued; ++i) {
      EXPECT_TRUE(pool.tryPost(jobs.job())) << "waits for a thread: " << i;
    }
    EXPECT_FALSE(pool.tryPost(jobs.job())) << "the queue is full";

    jobs.open();
    ASSERT_TRUE(jobs.waitUntilDone(kThreads + kQueued));
    EXPECT_EQ(jobs.peak(), kThreads);
    EXPECT_TRUE(pool.tryPost(jobs.job())) << "room again once the lookups are done";
    ASSERT_TRUE(jobs.waitUntilDone(kThreads + kQueued + 1));
  }
  EXPECT_EQ(jobs.peak(), kThreads);
}

// Shut-down must not hang on a lookup that a silent name server holds up.
TEST(NameLookupPool, DestructionNeitherWaitsForARunningLookupNorRunsQueuedOnes) {
  GatedJobs jobs;
  int dropped = 0;
  {
    NameLookupPool pool(1, 1);
    ASSERT_TRUE(pool.tryPost(jobs.job()));
    ASSERT_TRUE(jobs.waitUntilRunning(1));
    ASSERT_TRUE(pool.tryPost([&dropped] { ++dropped; }));
  }
  jobs.open();  // the running job ends after its pool
  ASSERT_TRUE(jobs.waitUntilDone(1));
  EXPECT_EQ(dropped, 0);
}

}  // namespace
}  // namespace korvane::hub
