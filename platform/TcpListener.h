#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/TcpConnection.h"

namespace korvane::platform {

/// Most sockets one listener holds: one per local address, as many as a hub binds.
inline constexpr std::size_t kMaxListenSockets = 64;

/// The call in which a listener step failed, so that the caller can name it in its log.
enum class ListenCall {
  kResolve,  ///< looking up the local addresses (error: the resolver's code)
  kSocket,
  kBind,
  kListen,
  kWait,    ///< waiting for connections on the sockets
  kAccept,  ///< taking one connection
};

/// One failed step: the call and its error number (errno, or the resolver's code).
struct ListenFailure {
  ListenCall call = ListenCall::kSocket;
  int error = 0;
};

/// How one accept() ended.
enum class AcceptStatus {
  kAccepted,  ///< a connection was taken
  kRetry,     ///< a failure that passes (a client that reset early, a signal, descriptors
              ///< running out): call accept() again
  kClosed,    ///< close() was called; every later call says the same
  kFailed,    ///< a failure that cannot pass; the listener is of no further use
};

/// TCP listening sockets on one port and the connections they accept. One thread accepts while
/// any other may close(): the accepting thread then wakes at once.
class TcpListener {
 public:
  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  /// Listens on `port` on every local address the resolver offers for a passive socket (IPv4
  /// and IPv6 alike; an IPv6 socket takes only IPv6, so both can bind the same port), at most
  /// kMaxListenSockets of them. Every step that fails for one address is added to `failures` in
  /// order and that address is skipped; `tooManyAddresses` is set when more addresses were
  /// offered than fit. Returns the number of sockets that listen (0: nothing to accept on).
  std::size_t listenOnAllAddresses(std::uint16_t port, std::vector<ListenFailure>* failures,
                                   bool* tooManyAddresses);

  /// Listens on `port` on the IPv4 any-address with the system's largest backlog. False with
  /// the failing call in `failure`; nothing is left open then.
  [[nodiscard]] bool listenOnIpv4(std::uint16_t port, ListenFailure* failure);

  /// Waits for a connection on any of the sockets and takes it (from the first ready socket in
  /// the order they were opened) into `connection`, with Nagle's delay off and TCP keep-alive
  /// on. On kRetry and kFailed `failure` names the call. After a shortage of descriptors the
  /// next call pauses briefly first, so that a full backlog does not make it spin.
  AcceptStatus accept(std::optional<TcpConnection>* connection, ListenFailure* failure);

  /// Closes every listening socket, from any thread; an accept() waiting on another thread
  /// returns kClosed, and so does every later one. Returns once no accept() is running.
  void close();

  /// The number of sockets that listen.
  std::size_t socketCount() const;

  /// The port the first socket listens on (the kernel's choice when 0 was asked for); 0 when
  /// none listens.
  std::uint16_t localPort() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane::platform
