// Unit tests of which peers the hub shows as "LAN" instead of looking them up.

#include <gtest/gtest.h>

#include <string>

#include "common/DottedAddress.h"
#include "hub/NameLookupPool.h"
#include "hub/PeerName.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

platform::PeerAddress peerAt(const std::string& address) {
  platform::PeerAddress peer;
  peer.numericHost = address;
  const auto ipv4 = common::parseDottedQuad(address);
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

// With every lookup thread busy and the queue full, a new connection is named at once instead
// of waiting for (or making) another thread.
TEST(PeerName, NamesWithoutALookupWhenThePoolIsFull) {
  HubTestBed bed;
  NameLookupPool full(0, 0);
  struct Row {
    const char* address;
    const char* name;
  };
  for (const Row row : {Row{"192.168.1.20", "LAN"}, Row{"fe80::2", "LAN"},
                        Row{"203.0.113.5", "unknown"}, Row{"2001:db8::5", "unknown"}}) {
    SCOPED_TRACE(row.address);
    const TestPort test = makeTestPort(bed, row.address);
    namePort(test.port, full);
    ASSERT_TRUE(test.port->waitForHostName(std::chrono::milliseconds(0)));
    EXPECT_EQ(test.port->hostName(), row.name);
  }
}

}  // namespace
}  // namespace korvane::hub
