#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/RunThread.h"
#include "hub/PortConnection.h"
#include "platform/Poller.h"

namespace korvane::hub {

class SendQueue;

/// The one thread of a hub that writes what its clients' streams did not take at once: a
/// queue whose stream is full asks to be told when it has room, and this thread drains it then,
/// without blocking, so that one client that reads slowly never holds up another, and a hub of
/// many clients costs one writer thread rather than one per client.
class SendWriter {
 public:
  /// A writer whose thread reports an exception that escapes it to `onFailure`.
  explicit SendWriter(common::ThreadFailureHandler onFailure = {});
  ~SendWriter();
  SendWriter(const SendWriter&) = delete;
  SendWriter& operator=(const SendWriter&) = delete;

  /// Makes the poller and starts the thread; false with the reason in `err`.
  [[nodiscard]] bool start(std::string* err);

  /// Stops and joins the thread; queues stay enrolled but are drained no more. Called once the
  /// ports have ended, since a port waiting for its answer to be written waits for this thread.
  void stop();

  /// Takes `queue` in and returns the key it is known by.
  std::uint64_t enrol(SendQueue& queue);

  /// Drains the queue of `key` once `connection` has room.
  void watch(PortConnection& connection, std::uint64_t key) {
    connection.watchWritable(poller_, key);
  }

  /// Lets the queue of `key` go: when this returns the thread is not draining it and never will
  /// again, and `connection` is out of the poller's set, so its stream may be closed.
  void leave(std::uint64_t key, PortConnection& connection);

 private:
  void run();

  const common::ThreadFailureHandler onFailure_;
  platform::Poller poller_;
  std::mutex mutex_;
  std::condition_variable drained_;  // the thread left the queue it was draining
  std::unordered_map<std::uint64_t, SendQueue*> queues_;
  std::uint64_t nextKey_ = 1;  // 0 wakes the thread; keys are never reused
  std::uint64_t draining_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace korvane::hub
