// Unit tests of which peers the hub shows as "LAN" instead of looking them up.

#include <gtest/gtest.h>

#include <string>

#include "hub/HostFilter.h"
#include "hub/PeerName.h"

namespace korvane::hub {
namespace {

platform::PeerAddress peerAt(const std::string& address) {
  platform::PeerAddress peer;
  peer.numericHost = address;
  const auto ipv4 = HostFilter::parseDottedQuad(address);
  peer.isIpv4 = ipv4.has_value();
  peer.ipv4 = ipv4.value_or(Ipv4Address{});
  return peer;
}

TEST(PeerName, PrivateAndLinkLocalAddressesAreLan) {
  struct Row {
    const char* address;
    bool lan;
  };
  const Row rows[] = {
      // The three private IPv4 ranges, bounds included.
      {"10.0.0.0", true},
      {"10.255.255.255", true},
      {"172.16.0.0", true},
      {"172.31.255.255", true},
      {"192.168.0.0", true},
      {"192.168.255.255", true},
      // Just outside them.
      {"9.255.255.255", false},
      {"11.0.0.0", false},
      {"172.15.255.255", false},
      {"172.32.0.0", false},
      {"192.167.255.255", false},
      {"192.169.0.0", false},
      {"127.0.0.1", false},
      // IPv6: only fe80::/64.
      {"fe80::1", true},
      {"fe80::1%eth0", true},
      {"fe80::aa:bb:cc:dd", true},
      {"fe80:0:0:1::1", false},
      {"fec0::1", false},
      {"2001:db8::1", false},
      {"::1", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    EXPECT_EQ(isLanPeer(peerAt(row.address)), row.lan);
  }
}

TEST(PeerName, LanPeersAreNotLookedUp) {
  EXPECT_EQ(hostNameForPeer(peerAt("192.168.1.20")), "LAN");
  EXPECT_EQ(hostNameForPeer(peerAt("fe80::2")), "LAN");
}

}  // namespace
}  // namespace korvane::hub
