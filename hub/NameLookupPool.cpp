#include "hub/NameLookupPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace korvane::hub {

struct NameLookupPool::Shared {
  std::mutex mutex;
  std::condition_variable jobQueued;
  std::deque<Job> queue;
  std::size_t threads = 0;
  std::size_t idle = 0;
  bool stopping = false;
};

NameLookupPool::NameLookupPool(std::size_t maxThreads, std::size_t maxQueued,
                               common::ThreadFailureHandler onFailure)
    : maxThreads_(maxThreads),
      maxQueued_(maxQueued),
      onFailure_(std::move(onFailure)),
      shared_(std::make_shared<Shared>()) {}

NameLookupPool::~NameLookupPool() {
  std::deque<Job> dropped;
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    dropped.swap(shared_->queue);
  }
  shared_->jobQueued.notify_all();
  // `dropped` releases what the jobs hold here, outside the lock.
}

bool NameLookupPool::tryPost(Job job) {
  std::unique_lock lock(shared_->mutex);
  if (shared_->stopping || shared_->queue.size() >= maxQueued_) {
    return false;
  }
  shared_->queue.push_back(std::move(job));
  if (shared_->idle >= shared_->queue.size() || shared_->threads >= maxThreads_) {
    lock.unlock();
    shared_->jobQueued.notify_one();
    return true;
  }
  try {
    std::thread([shared = shared_, onFailure = onFailure_] {
      common::runThread(
          "NameLookup", [&] { work(shared); }, onFailure);
    }).detach();
    ++shared_->threads;
  } catch (const std::system_error&) {
    if (shared_->threads == 0) {
      shared_->queue.pop_back();  // no thread would ever run it
      return false;
    }
  }
  return true;
}

void NameLookupPool::work(const std::shared_ptr<Shared>& shared) {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(shared->mutex);
      ++shared->idle;
      shared->jobQueued.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
      --shared->idle;
      if (shared->stopping) {
        --shared->threads;
        return;
      }
      job = std::move(shared->queue.front());
      shared->queue.pop_front();
    }
    try {
      job();
    } catch (...) {
      // A lookup that fails this way leaves its port's name as it was, as a failed lookup does.
    }
  }
}

}  // namespace korvane::hub
