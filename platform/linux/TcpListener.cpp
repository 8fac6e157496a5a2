#include "platform/TcpListener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

// How the listener is made:
//
// - Every listening socket is non-blocking. accept() waits in poll() on all of them and on an
//   eventfd, and a socket that poll() called ready but has nothing (a client that reset in
//   between) just sends it back to waiting.
// - close() writes the eventfd, which stays readable, so a waiting accept() returns at once;
//   close() then waits until no thread is inside accept() before it closes the descriptors, so
//   an accepting thread never polls a descriptor number that was closed (and perhaps reused).

namespace korvane::platform {
namespace {

// The accept queue of each listening socket: the system's largest. After a hub restarts, all of
// its clients (up to 512) reconnect within a second, faster than one listener thread takes them;
// a short queue would make the kernel drop their handshakes and the clients wait out retries.
constexpr int kListenBacklog = SOMAXCONN;

// After accept() ran out of descriptors the next one waits this long first, so that a waiting
// client, which keeps the socket ready, does not make the listener spin while others free some.
constexpr int kDescriptorShortagePauseMs = 100;

void closeDescriptor(int fd) {
  if (fd >= 0) {
    ::close(fd);
  }
}

void setFlag(int fd, int level, int option) {
  const int on = 1;
  ::setsockopt(fd, level, option, &on, sizeof on);
}

/// Failures of accept() that say nothing about the listening socket: the client gave up, a
/// signal came, the network below changed, or the process ran out of something for a moment.
bool acceptErrorPasses(int error) {
  switch (error) {
    case ECONNABORTED:
    case EPROTO:
    case EINTR:
    case EPERM:  // a firewall rule refused this one connection
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return true;
    default:
      return false;
  }
}

bool descriptorsRanOut(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

struct TcpListener::State {
  std::mutex mutex;
  std::condition_variable idle;
  std::vector<int> sockets;  // changed only under mutex, and never while acceptors > 0
  int wakeFd = -1;
  bool closed = false;
  int acceptors = 0;
  bool pauseNext = false;

  /// Keeps `fd` as a listening socket; closes it instead when the listener was closed meanwhile.
  bool keep(int fd) {
    const std::lock_guard lock(mutex);
    if (closed) {
      closeDescriptor(fd);
      return false;
    }
    sockets.push_back(fd);
    return true;
  }

  /// Opens, binds and starts one socket on `address`; -1 with the failing call in `failure`.
  static int openOne(const addrinfo& address, ListenFailure* failure) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) {
      *failure = {ListenCall::kSocket, errno};
      return -1;
    }
    setFlag(fd, SOL_SOCKET, SO_REUSEADDR);
    if (address.ai_family == AF_INET6) {
      // Without this the IPv6 socket would also take IPv4 and the IPv4 socket could not bind.
      setFlag(fd, IPPROTO_IPV6, IPV6_V6ONLY);
    }
    if (::bind(fd, address.ai_addr, address.ai_addrlen) != 0) {
      *failure = {ListenCall::kBind, errno};
      closeDescriptor(fd);
      return -1;
    }
    if (::listen(fd, kListenBacklog) != 0) {
      *failure = {ListenCall::kListen, errno};
      closeDescriptor(fd);
      return -1;
    }
    return fd;
  }

  /// Waits for the wake-up only, at most `ms`; true when the listener was closed.
  bool pauseUnlessClosed(int ms) const {
    pollfd wake{wakeFd, POLLIN, 0};
    return ::poll(&wake, 1, ms) > 0;
  }

  AcceptStatus acceptOnce(std::optional<TcpConnection>* connection, ListenFailure* failure);
};

TcpListener::TcpListener() : state_(std::make_unique<State>()) {
  state_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TcpListener::~TcpListener() {
  close();
  closeDescriptor(state_->wakeFd);
}

std::size_t TcpListener::listenOnAllAddresses(std::uint16_t port,
                                              std::vector<ListenFailure>* failures,
                                              bool* tooManyAddresses) {
  *tooManyAddresses = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
  const std::string service = std::to_string(port);
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(nullptr, service.c_str(), &hints, &found);
  if (lookup != 0) {
    failures->push_back({ListenCall::kResolve, lookup});
    return socketCount();
  }
  std::size_t opened = 0;
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    if (opened == kMaxListenSockets) {
      *tooManyAddresses = true;
      break;
    }
    if (address->ai_family != AF_INET && address->ai_family != AF_INET6) {
      continue;
    }
    ListenFailure failure;
    const int fd = State::openOne(*address, &failure);
    if (fd < 0) {
      failures->push_back(failure);
      continue;
    }
    if (state_->keep(fd)) {
      ++opened;
    }
  }
  ::freeaddrinfo(found);
  return socketCount();
}

bool TcpListener::listenOnIpv4(std::uint16_t port, ListenFailure* failure) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *failure = {ListenCall::kSocket, errno};
    return false;
  }
  setFlag(fd, SOL_SOCKET, SO_REUSEADDR);
  setFlag(fd, IPPROTO_TCP, TCP_NODELAY);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    *failure = {ListenCall::kBind, errno};
    closeDescriptor(fd);
    return false;
  }
  if (::listen(fd, kListenBacklog) != 0) {
    *failure = {ListenCall::kListen, errno};
    closeDescriptor(fd);
    return false;
  }
  if (!state_->keep(fd)) {
    *failure = {ListenCall::kListen, EBADF};
    return false;
  }
  return true;
}

AcceptStatus TcpListener::accept(std::optional<TcpConnection>* connection, ListenFailure* failure) {
  bool pause = false;
  {
    const std::lock_guard lock(state_->mutex);
    if (state_->closed) {
      return AcceptStatus::kClosed;
    }
    if (state_->sockets.empty() || state_->wakeFd < 0) {
      *failure = {ListenCall::kWait, EBADF};
      return AcceptStatus::kFailed;
    }
    ++state_->acceptors;
    pause = std::exchange(state_->pauseNext, false);
  }
  AcceptStatus status = AcceptStatus::kClosed;
  if (!pause || !state_->pauseUnlessClosed(kDescriptorShortagePauseMs)) {
    status = state_->acceptOnce(connection, failure);
  }
  const std::lock_guard lock(state_->mutex);
  if (status == AcceptStatus::kRetry && descriptorsRanOut(failure->error)) {
    state_->pauseNext = true;
  }
  if (--state_->acceptors == 0) {
    state_->idle.notify_all();
  }
  return status;
}

AcceptStatus TcpListener::State::acceptOnce(std::optional<TcpConnection>* connection,
                                            ListenFailure* failure) {
  std::array<pollfd, kMaxListenSockets + 1> polled{};
  const std::size_t count = sockets.size();
  for (std::size_t i = 0; i < count; ++i) {
    polled[i] = pollfd{sockets[i], POLLIN, 0};
  }
  polled[count] = pollfd{wakeFd, POLLIN, 0};
  for (;;) {
    if (::poll(polled.data(), count + 1, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      *failure = {ListenCall::kWait, errno};
      return AcceptStatus::kFailed;
    }
    if (polled[count].revents != 0) {
      return AcceptStatus::kClosed;
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (polled[i].revents == 0) {
        continue;
      }
      const int fd = ::accept4(polled[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
          break;  // taken back by the client before we got to it: wait again
        }
        *failure = {ListenCall::kAccept, error};
        return acceptErrorPasses(error) ? AcceptStatus::kRetry : AcceptStatus::kFailed;
      }
      setFlag(fd, IPPROTO_TCP, TCP_NODELAY);
      setFlag(fd, SOL_SOCKET, SO_KEEPALIVE);
      connection->emplace(TcpConnection(fd));
      return AcceptStatus::kAccepted;
    }
  }
}

void TcpListener::close() {
  std::unique_lock lock(state_->mutex);
  if (!state_->closed) {
    state_->closed = true;
    if (state_->wakeFd >= 0) {
      const std::uint64_t one = 1;
      (void)!::write(state_->wakeFd, &one, sizeof one);
    }
  }
  state_->idle.wait(lock, [this] { return state_->acceptors == 0; });
  for (const int fd : state_->sockets) {
    closeDescriptor(fd);
  }
  state_->sockets.clear();
}

std::size_t TcpListener::socketCount() const {
  const std::lock_guard lock(state_->mutex);
  return state_->sockets.size();
}

std::uint16_t TcpListener::localPort() const {
  const std::lock_guard lock(state_->mutex);
  if (state_->sockets.empty()) {
    return 0;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(state_->sockets.front(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

}  // namespace korvane::platform
