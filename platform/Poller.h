#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/TcpConnection.h"

namespace korvane::platform {

/// A set of connections that one thread waits on until any of them can take more bytes: each
/// watch reports its key once, so a thread serves many slow readers without a thread each.
/// Any thread may watch, forget or post; one thread waits.
class Poller {
 public:
  Poller() = default;
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  /// Makes the set; false with the reason in `err` ("epoll_create1: Too many open files").
  [[nodiscard]] bool open(std::string* err);

  /// Reports `key` (not 0) once from wait() when `connection` can take bytes, failed or was shut
  /// down; the connection stays in the set, silent, until it is watched again or forgotten.
  /// False when the set refused it (the caller treats the stream as failed).
  bool watchWritable(const TcpConnection& connection, std::uint64_t key);

  /// Takes `connection` out of the set, before it is closed. A wait() that already returned may
  /// still carry its key, so keys are never reused.
  void forget(const TcpConnection& connection);

  /// Reports `key` from the next wait() as if its stream had room: for streams without a
  /// descriptor, and to wake the waiting thread.
  void post(std::uint64_t key);

  /// Waits at most `limit` for reports and puts their keys into `ready`; their count (0 on
  /// time-out). Posted keys come first.
  std::size_t wait(std::span<std::uint64_t> ready, std::chrono::milliseconds limit);

 private:
  std::intptr_t set_ = -1;
  std::intptr_t wake_ = -1;
  std::mutex mutex_;
  std::vector<std::uint64_t> posted_;
};

}  // namespace korvane::platform
