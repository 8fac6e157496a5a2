#include "hub/SendWriter.h"

#include <array>
#include <chrono>
#include <system_error>

#include "hub/SendQueue.h"
#include "platform/Priority.h"

namespace korvane::hub {
namespace {

// The key that only wakes the thread, to look at its stop flag.
constexpr std::uint64_t kWakeKey = 0;

// Reports taken from the poller per wait.
constexpr std::size_t kReportsPerWait = 64;

// The thread sleeps this long at most between reports; it is woken for stop(), so this only
// bounds how long a lost wake-up could go unnoticed.
constexpr std::chrono::milliseconds kIdleWait{60000};

}  // namespace

SendWriter::SendWriter(common::ThreadFailureHandler onFailure) : onFailure_(std::move(onFailure)) {}

SendWriter::~SendWriter() {
  stop();
}

bool SendWriter::start(std::string* err) {
  if (!poller_.open(err)) {
    return false;
  }
  try {
    thread_ = std::thread([this] {
      common::runThread(
          "SendWriter", [this] { run(); }, onFailure_);
    });
  } catch (const std::system_error& e) {
    *err = std::string("cannot start the writer thread: ") + e.what();
    return false;
  }
  return true;
}

void SendWriter::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (thread_.joinable()) {
    poller_.post(kWakeKey);
    thread_.join();
  }
}

std::uint64_t SendWriter::enrol(SendQueue& queue) {
  const std::lock_guard lock(mutex_);
  const std::uint64_t key = nextKey_++;
  queues_.emplace(key, &queue);
  return key;
}

void SendWriter::leave(std::uint64_t key, PortConnection& connection) {
  {
    std::unique_lock lock(mutex_);
    queues_.erase(key);
    drained_.wait(lock, [&] { return draining_ != key; });
  }
  connection.forget(poller_);
}

void SendWriter::run() {
  // It moves the frames of every client whose socket was full, so it runs at the port threads'
  // priority: below them it would starve while they switch into the queues it drains.
  platform::raiseThreadPriority();
  std::array<std::uint64_t, kReportsPerWait> ready{};
  for (;;) {
    const std::size_t count = poller_.wait(ready, kIdleWait);
    for (std::size_t i = 0; i < count; ++i) {
      SendQueue* queue = nullptr;
      {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
          return;
        }
        const auto found = queues_.find(ready[i]);
        if (found == queues_.end()) {
          continue;  // a wake-up, or a queue that left after its stream was reported
        }
        queue = found->second;
        draining_ = ready[i];
      }
      queue->drainWhenWritable();
      {
        const std::lock_guard lock(mutex_);
        draining_ = 0;
      }
      drained_.notify_all();
    }
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      return;
    }
  }
}

}  // namespace korvane::hub
