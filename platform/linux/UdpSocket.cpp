#include "platform/UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/linux/Deadline.h"
#include "platform/linux/Errno.h"

namespace korvane::platform {
namespace {

sockaddr_in ipv4Endpoint(std::uint32_t address, int port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address);
  endpoint.sin_port = htons(static_cast<std::uint16_t>(port));
  return endpoint;
}

std::string endpointText(std::uint32_t address, int port) {
  char text[INET_ADDRSTRLEN] = {};
  const in_addr raw{htonl(address)};
  ::inet_ntop(AF_INET, &raw, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port);
}

}  // namespace

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

UdpSocket::~UdpSocket() { close(); }

void UdpSocket::close() {
  if (handle_ >= 0) {
    ::close(handle_);
    handle_ = -1;
  }
}

std::optional<UdpSocket> UdpSocket::open(std::uint32_t localAddress, std::string* err) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failWithErrno("socket", err);
    return std::nullopt;
  }
  UdpSocket socket(fd);
  const sockaddr_in local = ipv4Endpoint(localAddress, 0);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    failWithErrno("bind " + endpointText(localAddress, 0), err);
    return std::nullopt;
  }
  return socket;
}

bool UdpSocket::setMulticastInterface(std::uint32_t address, std::string* err) {
  const in_addr interface{htonl(address)};
  if (::setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0) {
    return failWithErrno("setsockopt IP_MULTICAST_IF " + endpointText(address, 0), err);
  }
  return true;
}

bool UdpSocket::sendTo(std::uint32_t address, int port, std::span<const std::uint8_t> data,
                       std::string* err) {
  const sockaddr_in target = ipv4Endpoint(address, port);
  ssize_t sent = -1;
  do {
    sent = ::sendto(handle_, data.data(), data.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    return failWithErrno("sendto " + endpointText(address, port), err);
  }
  return true;
}

UdpSocket::Received UdpSocket::receive(std::span<std::uint8_t> buffer,
                                       std::chrono::milliseconds limit, std::size_t* size,
                                       std::string* err) {
  const int events = pollUntil(handle_, POLLIN, deadlineAfter(limit));
  if (events < 0) {
    failWithErrno("poll", err);
    return Received::kFailed;
  }
  if (events == 0) {
    return Received::kTimedOut;
  }
  ssize_t got = -1;
  do {
    got = ::recv(handle_, buffer.data(), buffer.size(), MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return Received::kTimedOut;
    }
    failWithErrno("recv", err);
    return Received::kFailed;
  }
  *size = static_cast<std::size_t>(got);
  return Received::kDatagram;
}

}  // namespace korvane::platform
