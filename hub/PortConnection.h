#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace korvane::hub {

/// The byte stream of one client connection as the hub's port uses it. The port thread receives
/// and closes; any thread may send without blocking, wait for room, or shut the stream down.
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

  /// Waits until the stream has room (true), or `limit` passes or it fails (false).
  virtual bool waitWritable(std::chrono::milliseconds limit) = 0;

  /// Ends the stream both ways, from any thread: a blocked receive() returns and later sends
  /// fail. The stream stays allocated until close().
  virtual void shutdownBoth() = 0;

  /// Releases the stream; only the port thread calls it, once no other thread can reach it.
  virtual void close() = 0;
};

}  // namespace korvane::hub
