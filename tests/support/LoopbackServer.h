#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane::testing {

/// The test's own end of one TCP connection, written with plain socket calls so that it checks
/// the connection code under test instead of sharing it. Closed when the object goes.
class RawSocket {
 public:
  explicit RawSocket(int fd) : fd_(fd) {}
  RawSocket(RawSocket&& other) noexcept;
  RawSocket& operator=(RawSocket&& other) noexcept;
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;
  ~RawSocket();

  /// Exactly `count` bytes, or empty when the peer closed, failed or `limit` passed first.
  std::optional<std::vector<std::uint8_t>> readExactly(std::size_t count,
                                                       std::chrono::milliseconds limit);

  /// What arrives until the peer closes, at most `limit` long; empty on a failure or time-out.
  std::optional<std::vector<std::uint8_t>> readUntilClosed(std::chrono::milliseconds limit);

  /// True when the peer closed (or reset) the connection within `limit`; arriving bytes are read
  /// and dropped.
  bool waitForClose(std::chrono::milliseconds limit);

  /// Writes all of `data` (blocking); false when the connection fails.
  bool writeAll(std::span<const std::uint8_t> data);

  /// Closes with a reset instead of an orderly end.
  void closeWithReset();

  /// Closes with an orderly end.
  void close();

 private:
  int fd_ = -1;
};

/// A listening TCP socket on a loopback address and a port that the kernel picks.
class LoopbackServer {
 public:
  /// Listens on `address` ("127.0.0.1" or "::1"); started() is false when that is impossible
  /// (for instance no IPv6), with the reason in error().
  explicit LoopbackServer(const std::string& address = "127.0.0.1");
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool started() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }

  /// The next connection, or empty when none comes within `limit`.
  std::optional<RawSocket> accept(std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
  int port_ = 0;
  std::string error_;
};

}  // namespace korvane::testing
