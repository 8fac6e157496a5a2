#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace korvane::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

/// Polls `fd` for `events` until `deadline`; true when it is ready.
bool waitFor(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long>(left.count(), 0)));
    if (ready > 0) {
      return true;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

}  // namespace

RawSocket::RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RawSocket& RawSocket::operator=(RawSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

RawSocket::~RawSocket() {
  close();
}

std::optional<std::vector<std::uint8_t>> RawSocket::readExactly(std::size_t count,
                                                                std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  std::vector<std::uint8_t> bytes(count);
  std::size_t filled = 0;
  while (filled < count) {
    if (!waitFor(fd_, POLLIN, deadline)) {
      return std::nullopt;
    }
    const ssize_t got = ::recv(fd_, bytes.data() + filled, count - filled, 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return std::nullopt;
    }
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

std::optional<std::vector<std::uint8_t>> RawSocket::readUntilClosed(
    std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 4096> chunk{};
  for (;;) {
    if (!waitFor(fd_, POLLIN, deadline)) {
      return std::nullopt;
    }
    const ssize_t got = ::recv(fd_, chunk.data(), chunk.size(), 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      return bytes;
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
}

bool RawSocket::waitForClose(std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  std::array<std::uint8_t, 4096> chunk{};
  for (;;) {
    if (!waitFor(fd_, POLLIN, deadline)) {
      return false;
    }
    const ssize_t got = ::recv(fd_, chunk.data(), chunk.size(), 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return true;
    }
  }
}

bool RawSocket::writeAll(std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent < 0) {
      return false;
    }
    data = data.subspan(static_cast<std::size_t>(sent));
  }
  return true;
}

void RawSocket::closeWithReset() {
  if (fd_ < 0) {
    return;
  }
  const linger reset{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close();
}

void RawSocket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

LoopbackServer::LoopbackServer(const std::string& address) {
  const bool v6 = address.find(':') != std::string::npos;
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return;
  }
  sockaddr_storage storage{};
  socklen_t length = 0;
  int converted = 0;
  if (v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    converted = ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
    length = sizeof *in6;
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    converted = ::inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
    length = sizeof *in4;
  }
  auto* generic = reinterpret_cast<sockaddr*>(&storage);
  if (converted != 1) {
    error_ = "not a numeric address: " + address;
  } else if (::bind(fd, generic, length) != 0) {
    error_ = "bind " + address + ": " + std::strerror(errno);
  } else if (::listen(fd, SOMAXCONN) != 0) {
    error_ = std::string("listen: ") + std::strerror(errno);
  } else if (::getsockname(fd, generic, &length) != 0) {
    error_ = std::string("getsockname: ") + std::strerror(errno);
  }
  if (!error_.empty()) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

LoopbackServer::~LoopbackServer() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::optional<RawSocket> LoopbackServer::accept(std::chrono::milliseconds limit) {
  if (fd_ < 0 || !waitFor(fd_, POLLIN, SteadyClock::now() + limit)) {
    return std::nullopt;
  }
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  return RawSocket(fd);
}

}  // namespace korvane::testing
