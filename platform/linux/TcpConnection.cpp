#include "platform/TcpConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/Deadline.h"
#include "platform/linux/Errno.h"

namespace korvane::platform {
namespace {

// sendmsg() takes at most IOV_MAX (1024 on Linux) parts per call; more parts are sent by the
// caller's next call, since trySend() may always send less than it was given.
constexpr std::size_t kMaxPartsPerCall = IOV_MAX;

// Room for "[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]" and a host name of the longest
// length DNS allows (253 characters), with the terminating zero.
constexpr std::size_t kHostTextSize = NI_MAXHOST;

int descriptorOf(std::intptr_t handle) {
  return static_cast<int>(handle);
}

/// Polls one descriptor for `events` until it reports something or `limit` passes (see
/// pollUntil): the reported events, 0 on time-out, -1 on failure.
int pollFor(int fd, short events, std::chrono::milliseconds limit) {
  return pollUntil(fd, events, deadlineAfter(limit));
}

/// "192.0.2.7:7470" or "[2001:db8::7]:7470", for messages about an address.
std::string endpointText(const sockaddr* address, socklen_t length) {
  std::array<char, kHostTextSize> host{};
  std::array<char, NI_MAXSERV> service{};
  if (::getnameinfo(address, length, host.data(), host.size(), service.data(), service.size(),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  if (address->sa_family == AF_INET6) {
    return "[" + std::string(host.data()) + "]:" + service.data();
  }
  return std::string(host.data()) + ":" + service.data();
}

/// Waits until a connect() under way on the non-blocking `fd` has finished or `deadline` passed,
/// and returns its errno (0: connected; ETIMEDOUT: the deadline passed first).
int finishConnect(int fd, SteadyClock::time_point deadline) {
  const int events = pollUntil(fd, POLLOUT, deadline);
  if (events < 0) {
    return errno;
  }
  if (events == 0) {
    return ETIMEDOUT;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return errno;
  }
  return error;
}

/// Connects a new socket to one address by `deadline`; the descriptor (blocking, as every
/// connection's), or -1 with the message in `err`. The socket connects without blocking, so a
/// peer that drops the handshake costs no more than the caller's limit.
int connectOne(const addrinfo& address, SteadyClock::time_point deadline, std::string* err) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
  if (fd < 0) {
    failWithErrno("socket", err);
    return -1;
  }
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno == EINPROGRESS || errno == EINTR ? finishConnect(fd, deadline) : errno;
  }
  if (error == 0) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
      return fd;
    }
    error = errno;
  }
  setError(
      err,
      SystemError{"connect " + endpointText(address.ai_addr, address.ai_addrlen), error}.text());
  ::close(fd);
  return -1;
}

/// An IPv4-mapped IPv6 address (::ffff:a.b.c.d, what a dual-stack socket shows for an IPv4 peer)
/// turned into the plain IPv4 address it stands for; any other address as it is.
socklen_t unmapIpv4(sockaddr_storage* address, socklen_t length) {
  if (address->ss_family != AF_INET6) {
    return length;
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
  if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
    return length;
  }
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = v6->sin6_port;
  std::memcpy(&v4.sin_addr, &v6->sin6_addr.s6_addr[12], sizeof v4.sin_addr);
  std::memset(address, 0, sizeof *address);
  std::memcpy(address, &v4, sizeof v4);
  return sizeof v4;
}

/// The peer's address with IPv4-mapped addresses unmapped; length 0 when it cannot be read.
socklen_t readPeer(int fd, sockaddr_storage* address) {
  socklen_t length = sizeof *address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(address), &length) != 0) {
    return 0;
  }
  return unmapIpv4(address, length);
}

}  // namespace

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      lastError_(std::move(other.lastError_)),
      lastErrorWasAbort_(other.lastErrorWasAbort_),
      shutDown_(other.shutDown_.exchange(false)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
    lastError_ = std::move(other.lastError_);
    lastErrorWasAbort_ = other.lastErrorWasAbort_;
    shutDown_ = other.shutDown_.exchange(false);
  }
  return *this;
}

TcpConnection::~TcpConnection() {
  close();
}

std::optional<TcpConnection> TcpConnection::connect(std::string_view host, int port,
                                                    std::string* err,
                                                    std::chrono::milliseconds limit) {
  const SteadyClock::time_point deadline = deadlineAfter(limit);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const std::string hostText(host);
  const std::string portText = std::to_string(port);
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &found);
  if (lookup != 0) {
    setError(err, lookup == EAI_SYSTEM ? errnoError("getaddrinfo " + hostText).text()
                                       : "getaddrinfo " + hostText + ": " + ::gai_strerror(lookup));
    return std::nullopt;
  }
  std::optional<TcpConnection> connection;
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    const int fd = connectOne(*address, deadline, err);
    if (fd >= 0) {
      connection.emplace(TcpConnection(fd));
      break;
    }
  }
  ::freeaddrinfo(found);
  return connection;
}

long TcpConnection::receive(std::span<std::uint8_t> buffer) {
  if (buffer.empty()) {
    return 0;  // no room: the caller sees what a closed connection shows
  }
  for (;;) {
    const ssize_t received = ::recv(descriptorOf(handle_), buffer.data(), buffer.size(), 0);
    if (received > 0) {
      return static_cast<long>(received);
    }
    if (received == 0) {
      // After shutdown(SHUT_RDWR) by another thread Linux reports an orderly end; only our own
      // flag tells it apart from the peer closing.
      lastErrorWasAbort_ = shutDown_.load();
      lastError_ = lastErrorWasAbort_ ? "recv: connection shut down" : "recv: closed by peer";
      return 0;
    }
    if (errno == EINTR) {
      continue;
    }
    const int error = errno;
    lastErrorWasAbort_ = error == ECONNABORTED || shutDown_.load();
    lastError_ = SystemError{"recv", error}.text();
    return -1;
  }
}

bool TcpConnection::sendAll(std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(descriptorOf(handle_), data.data(), data.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      data = data.subspan(static_cast<std::size_t>(sent));
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    const int error = errno;
    lastErrorWasAbort_ = error == ECONNABORTED || shutDown_.load();
    lastError_ = SystemError{"send", error}.text();
    return false;
  }
  return true;
}

long TcpConnection::trySend(std::span<const std::span<const std::uint8_t>> parts,
                            std::string* err) {
  SystemError error;
  const long sent = trySend(parts, &error);
  if (sent < 0) {
    setError(err, error.text());
  }
  return sent;
}

long TcpConnection::trySend(std::span<const std::span<const std::uint8_t>> parts,
                            SystemError* error) {
  // Callers send while holding their own locks (a switch sends to each receiver in turn under
  // one): the vector lives on the stack, so a send allocates nothing.
  std::array<iovec, kMaxPartsPerCall> vectors;
  std::size_t count = 0;
  for (const auto& part : parts) {
    if (count == vectors.size()) {
      break;
    }
    if (!part.empty()) {
      vectors[count++] = iovec{const_cast<std::uint8_t*>(part.data()), part.size()};
    }
  }
  if (count == 0) {
    return 0;
  }
  msghdr message{};
  message.msg_iov = vectors.data();
  message.msg_iovlen = count;
  for (;;) {
    const ssize_t sent = ::sendmsg(descriptorOf(handle_), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      return static_cast<long>(sent);
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return 0;
    }
    *error = errnoError("sendmsg");
    return -1;
  }
}

bool TcpConnection::waitWritable(std::chrono::milliseconds limit) {
  const int events = pollFor(descriptorOf(handle_), POLLOUT, limit);
  return events > 0 && (events & POLLOUT) != 0 && (events & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

bool TcpConnection::waitReadable(std::chrono::milliseconds limit) {
  // An error or hang-up counts as readable: receive() then reports it without blocking.
  return pollFor(descriptorOf(handle_), POLLIN, limit) != 0;
}

void TcpConnection::shutdownBoth() {
  if (handle_ < 0) {
    return;
  }
  shutDown_ = true;  // before the shutdown, so a receive that wakes from it sees the flag
  ::shutdown(descriptorOf(handle_), SHUT_RDWR);
}

void TcpConnection::close() {
  if (handle_ >= 0) {
    ::close(descriptorOf(handle_));  // Linux releases the descriptor even when close says EINTR
    handle_ = -1;
  }
}

void TcpConnection::setNoDelay(bool on) {
  const int value = on ? 1 : 0;
  ::setsockopt(descriptorOf(handle_), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

PeerAddress TcpConnection::peerAddress() const {
  sockaddr_storage address{};
  const socklen_t length = readPeer(descriptorOf(handle_), &address);
  PeerAddress peer;
  if (length == 0) {
    return peer;
  }
  std::array<char, kHostTextSize> host{};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host.data(), host.size(),
                    nullptr, 0, NI_NUMERICHOST) != 0) {
    return peer;
  }
  peer.numericHost = host.data();
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    peer.port = ntohs(v4->sin_port);
    peer.isIpv4 = true;
    std::memcpy(peer.ipv4.data(), &v4->sin_addr, peer.ipv4.size());
  } else if (address.ss_family == AF_INET6) {
    peer.port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return peer;
}

std::string TcpConnection::lookUpPeerName() const {
  sockaddr_storage address{};
  const socklen_t length = readPeer(descriptorOf(handle_), &address);
  if (length == 0) {
    return {};
  }
  std::array<char, kHostTextSize> host{};
  const auto* peer = reinterpret_cast<const sockaddr*>(&address);
  if (::getnameinfo(peer, length, host.data(), host.size(), nullptr, 0, NI_NAMEREQD) == 0) {
    return host.data();
  }
  if (::getnameinfo(peer, length, host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) == 0) {
    return host.data();
  }
  return {};
}

}  // namespace korvane::platform
