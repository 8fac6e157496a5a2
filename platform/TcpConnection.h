#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/SystemError.h"

namespace korvane::platform {

/// The address of a connection's peer, as the hub shows and filters it.
struct PeerAddress {
  std::string numericHost;  ///< "192.0.2.7" or "2001:db8::7"
  int port = 0;
  bool isIpv4 = false;                 ///< also true for an IPv4 peer on a dual-stack socket
  std::array<std::uint8_t, 4> ipv4{};  ///< the IPv4 address when isIpv4, else all zero
};

/// No limit of our own on a connection's handshake: the kernel's retries end it (about two
/// minutes), which suits the hub's own clients; a peer that may silently drop it gets a limit.
inline constexpr std::chrono::milliseconds kNoConnectLimit = std::chrono::hours(24);

/// One TCP connection (IPv4 or IPv6). One thread may block in receive() while others send with
/// trySend() or end the connection with shutdownBoth(); close() belongs to the owning thread.
class TcpConnection {
 public:
  TcpConnection() = default;
  TcpConnection(TcpConnection&& other) noexcept;
  TcpConnection& operator=(TcpConnection&& other) noexcept;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;
  ~TcpConnection();

  /// Connects to `host` (a name or a numeric IPv4/IPv6 address) on `port`, trying every address
  /// the name has, all within `limit`. Empty with a message in `err` ("connect 127.0.0.1:7470:
  /// Connection refused"; "...: Connection timed out" when the limit passed first).
  static std::optional<TcpConnection> connect(
      std::string_view host, int port, std::string* err,
      std::chrono::milliseconds limit = kNoConnectLimit);

  bool isOpen() const { return handle_ >= 0; }

  /// Blocks until bytes arrive and returns their count; 0 when the peer closed or the
  /// connection was shut down; -1 on failure (lastError() says why).
  long receive(std::span<std::uint8_t> buffer);

  /// Sends every byte of `data`, blocking as needed. False when the connection fails.
  [[nodiscard]] bool sendAll(std::span<const std::uint8_t> data);

  /// Sends as much of the parts, in order, as the socket takes now without blocking. Returns the
  /// bytes sent (0 when the socket's buffer is full), or -1 when the connection failed, with the
  /// reason in `err` when it is given ("sendmsg: Broken pipe").
  long trySend(std::span<const std::span<const std::uint8_t>> parts, std::string* err = nullptr);

  /// The same, with the failed call and its error number in `error` when it returns -1 (its
  /// code is ECONNRESET for a reset, EPIPE for a connection the peer closed).
  long trySend(std::span<const std::span<const std::uint8_t>> parts, SystemError* error);

  /// Waits until receive() would not block (bytes arrived, the peer closed, the connection failed
  /// or was shut down: true), or `limit` passes (false).
  bool waitReadable(std::chrono::milliseconds limit);

  /// Waits until the socket can take more bytes (true), or `limit` passes or it fails (false).
  bool waitWritable(std::chrono::milliseconds limit);

  /// Ends the connection both ways. Safe from any thread: a thread blocked in receive() wakes
  /// and sees the end; the connection stays allocated until close().
  void shutdownBoth();

  /// Releases the connection. Only the owning thread calls it, once no other thread uses it.
  void close();

  /// Turns Nagle's delay off (true) for connections that carry small records one by one.
  void setNoDelay(bool on);

  /// The peer's address, or an empty address when it cannot be read.
  PeerAddress peerAddress() const;

  /// The peer's host name from a reverse lookup (blocks on DNS); its numeric address when it has
  /// no name.
  std::string lookUpPeerName() const;

  /// The text of the last failure of receive() or sendAll() ("recv: Connection reset by peer");
  /// only the owning thread reads it. trySend() leaves it alone, since other threads call it.
  const std::string& lastError() const { return lastError_; }
  /// True when the last failure of receive() or sendAll(), or its 0 (end of the connection), came
  /// from the connection being ended on this side: shutdownBoth() or an abort by the system.
  bool lastErrorWasAbort() const { return lastErrorWasAbort_; }

 private:
  friend class TcpListener;
  friend class Poller;
  explicit TcpConnection(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = -1;
  std::string lastError_;
  bool lastErrorWasAbort_ = false;
  /// Set by shutdownBoth() on any thread, read by the owning thread when its receive ends.
  std::atomic<bool> shutDown_{false};
};

}  // namespace korvane::platform
