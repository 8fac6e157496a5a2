#include "hub/PeerName.h"

#include <array>

#include "hub/NameLookupPool.h"
#include "hub/SocketPort.h"
#include "platform/HostName.h"

namespace korvane::hub {
namespace {

bool isPrivateIpv4(const std::array<std::uint8_t, 4>& address) {
  return address[0] == 10 || (address[0] == 172 && address[1] >= 16 && address[1] <= 31) ||
         (address[0] == 192 && address[1] == 168);
}

bool isLinkLocalIpv6(const platform::Ipv6Bytes& address) {
  static constexpr std::array<std::uint8_t, 8> kPrefix = {0xfe, 0x80, 0, 0, 0, 0, 0, 0};
  return std::equal(kPrefix.begin(), kPrefix.end(), address.begin());
}

}  // namespace

bool isLanPeer(const platform::PeerAddress& peer) {
  if (peer.isIpv4) {
    return isPrivateIpv4(peer.ipv4);
  }
  const auto address = platform::parseIpv6(peer.numericHost);
  return address && isLinkLocalIpv6(*address);
}

std::string hostNameForPeer(const platform::PeerAddress& peer) {
  if (isLanPeer(peer)) {
    return kLanHostName;
  }
  std::string name = platform::lookUpHostName(peer);
  return name.empty() ? std::string(kUnknownHost) : name;
}

void resolvePortName(const std::shared_ptr<SocketPort>& port) {
  port->setHostName(hostNameForPeer(port->peer()));
}

void namePort(const std::shared_ptr<SocketPort>& port, NameLookupPool& lookups) {
  if (isLanPeer(port->peer())) {
    port->setHostName(kLanHostName);
    return;
  }
  if (!lookups.tryPost([port] { resolvePortName(port); })) {
    port->setHostName(kUnknownHost);
  }
}

}  // namespace korvane::hub
