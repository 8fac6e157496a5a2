#include "platform/HostName.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace korvane::platform {

std::string lookUpHostName(const PeerAddress& peer) {
  sockaddr_storage address{};
  socklen_t length = 0;
  if (peer.isIpv4) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(peer.port));
    std::memcpy(&v4->sin_addr, peer.ipv4.data(), peer.ipv4.size());
    length = sizeof *v4;
  } else {
    const auto bytes = parseIpv6(peer.numericHost);
    if (!bytes) {
      return {};
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(peer.port));
    std::memcpy(&v6->sin6_addr, bytes->data(), bytes->size());
    const auto zone = peer.numericHost.find('%');
    if (zone != std::string::npos) {
      v6->sin6_scope_id = if_nametoindex(peer.numericHost.c_str() + zone + 1);
    }
    length = sizeof *v6;
  }
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0) {
    return {};
  }
  return host;
}

std::optional<Ipv6Bytes> parseIpv6(std::string_view text) {
  const std::string address(text.substr(0, text.find('%')));
  in6_addr parsed{};
  if (::inet_pton(AF_INET6, address.c_str(), &parsed) != 1) {
    return std::nullopt;
  }
  Ipv6Bytes bytes{};
  std::memcpy(bytes.data(), &parsed, bytes.size());
  return bytes;
}

}  // namespace korvane::platform
