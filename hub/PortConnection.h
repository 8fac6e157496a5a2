#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Poller.h"

namespace korvane::hub {

/// The byte stream of one client connection as the hub's port uses it. The port thread receives
/// and closes; any thread may send without blocking, ask for a report when there is room, or
/// shut the stream down.
/// The hub runs it over TCP (TcpPortConnection); tests run it over a scripted stream.
class PortConnection {
 public:
  virtual ~PortConnection() = default;

  /// Blocks until bytes arrive and returns their count; 0 when the peer closed or the stream
  /// was shut down; -1 on failure.
  virtual long receive(std::span<std::uint8_t> buffer) = 0;

  /// Sends as much of the parts, in order, as the stream takes now without blocking: the bytes
  /// taken (0 when it has no room), or -1 when the stream failed, with its error number in
  /// `error`.
  virtual long trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) = 0;

  /// Asks `poller` to report `key` once when the stream has room, failed or was shut down.
  virtual void watchWritable(platform::Poller& poller, std::uint64_t key) = 0;

  /// Takes the stream out of `poller`'s set; before close(), so that the poller never reports a
  /// descriptor that was closed and perhaps reused.
  virtual void forget(platform::Poller& poller) = 0;

  /// Ends the stream both ways, from any thread: a blocked receive() returns and later sends
  /// fail. The stream stays allocated until close().
  virtual void shutdownBoth() = 0;

  /// Releases the stream; only the port thread calls it, once no other thread can reach it.
  virtual void close() = 0;
};

}  // namespace korvane::hub
