#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "hub/PortConnection.h"

namespace korvane::hub {

/// The client's side of a scripted port stream: the test feeds what the client "sends" in
/// chunks, sees every byte the hub wrote, and decides how much the stream takes at once.
class FakeStream {
 public:
  /// Room for everything unless limited.
  static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

  /// One chunk that the hub's next receive() returns (split when its buffer is smaller).
  void push(std::vector<std::uint8_t> bytes) {
    const std::lock_guard lock(mutex_);
    chunks_.push_back(std::move(bytes));
    changed_.notify_all();
  }
  /// The client closes: receive() returns 0 once the chunks are taken.
  void closeFromClient() {
    const std::lock_guard lock(mutex_);
    clientClosed_ = true;
    changed_.notify_all();
  }
  /// From now on the stream takes at most `bytes` more before it is full.
  void setRoom(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    room_ = bytes;
    changed_.notify_all();
    reportRoomLocked();
  }
  /// The next send fails with `error`.
  void failSends(int error) {
    const std::lock_guard lock(mutex_);
    sendError_ = error;
  }

  std::vector<std::uint8_t> written() const {
    const std::lock_guard lock(mutex_);
    return written_;
  }
  /// Waits until at least `count` bytes were written; false after `limit`.
  bool waitForWritten(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return written_.size() >= count; });
  }
  /// trySend() calls so far.
  int sendCalls() const {
    const std::lock_guard lock(mutex_);
    return sendCalls_;
  }
  bool shutDown() const {
    const std::lock_guard lock(mutex_);
    return shutDown_;
  }
  bool closed() const {
    const std::lock_guard lock(mutex_);
    return closed_;
  }
  /// Waits until the hub closed the stream; false after `limit`.
  bool waitForClose(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return closed_; });
  }

  long receive(std::span<std::uint8_t> buffer) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !chunks_.empty() || clientClosed_ || shutDown_; });
    if (shutDown_ || chunks_.empty()) {
      return 0;
    }
    auto& chunk = chunks_.front();
    const std::size_t count = std::min(buffer.size(), chunk.size());
    std::copy_n(chunk.begin(), count, buffer.begin());
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty()) {
      chunks_.pop_front();
    }
    return static_cast<long>(count);
  }

  long trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) {
    const std::lock_guard lock(mutex_);
    ++sendCalls_;
    if (sendError_ != 0 || shutDown_) {
      *error = sendError_ != 0 ? sendError_ : EPIPE;
      return -1;
    }
    std::size_t taken = 0;
    for (const auto& part : parts) {
      const std::size_t count = std::min(part.size(), room_);
      written_.insert(written_.end(), part.begin(),
                      part.begin() + static_cast<std::ptrdiff_t>(count));
      taken += count;
      if (room_ != kUnlimited) {
        room_ -= count;
      }
      if (count < part.size()) {
        break;
      }
    }
    changed_.notify_all();
    return static_cast<long>(taken);
  }

  /// Posts `key` to `poller` once the stream has room or is shut down.
  void watchWritable(platform::Poller& poller, std::uint64_t key) {
    const std::lock_guard lock(mutex_);
    watcher_ = &poller;
    watchKey_ = key;
    reportRoomLocked();
  }
  void forget() {
    const std::lock_guard lock(mutex_);
    watcher_ = nullptr;
  }

  void shutdownBoth() {
    const std::lock_guard lock(mutex_);
    shutDown_ = true;
    changed_.notify_all();
    reportRoomLocked();
  }
  void close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  void reportRoomLocked() {
    if (watcher_ != nullptr && (room_ > 0 || shutDown_)) {
      std::exchange(watcher_, nullptr)->post(watchKey_);
    }
  }

  mutable std::mutex mutex_;
  platform::Poller* watcher_ = nullptr;
  std::uint64_t watchKey_ = 0;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> chunks_;
  bool clientClosed_ = false;
  std::vector<std::uint8_t> written_;
  std::size_t room_ = kUnlimited;
  int sendError_ = 0;
  int sendCalls_ = 0;
  bool shutDown_ = false;
  bool closed_ = false;
};

/// A port connection over a FakeStream that the test keeps a hold of.
class FakePortConnection final : public PortConnection {
 public:
  explicit FakePortConnection(std::shared_ptr<FakeStream> stream) : stream_(std::move(stream)) {}

  long receive(std::span<std::uint8_t> buffer) override { return stream_->receive(buffer); }
  long trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) override {
    return stream_->trySend(parts, error);
  }
  void watchWritable(platform::Poller& poller, std::uint64_t key) override {
    stream_->watchWritable(poller, key);
  }
  void forget(platform::Poller&) override { stream_->forget(); }
  void shutdownBoth() override { stream_->shutdownBoth(); }
  void close() override { stream_->close(); }

 private:
  std::shared_ptr<FakeStream> stream_;
};

}  // namespace korvane::hub
