// Unit tests of the switch: which port a record of a receive pass reaches, the pending limit of
// a slow client, the health check on the hub's clock, and the whole-table operations.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/PortListRecord.h"
#include "hub/AccountStore.h"
#include "hub/HostFilter.h"
#include "hub/PortManager.h"
#include "tests/hub/AccountFile.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using Records = std::vector<std::vector<std::uint8_t>>;

constexpr MacAddress kStationA = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0a};
constexpr MacAddress kStationB = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0b};
constexpr MacAddress kStationC = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0c};
constexpr MacAddress kMulticast = {0x01, 0x00, 0x5e, 0x00, 0x00, 0x01};

class PortManagerTest : public ::testing::Test {
 protected:
  TestPort join(bool logIn = true, std::string address = "192.0.2.1") {
    TestPort test = makeTestPort(bed_, std::move(address), nextPeerPort_++);
    test.port->admit();
    manager_.addPort(test.port);
    if (logIn) {
      EXPECT_TRUE(test.port->logIn(loginOkRecord()));
    }
    return test;
  }

  void send(TestPort& from, const Records& records) {
    std::vector<std::span<const std::uint8_t>> list(records.begin(), records.end());
    manager_.sendData(*from.port, list);
  }

  static std::size_t framesAt(const TestPort& test) {
    return dataRecordsIn(test.stream->written()).size();
  }

  HubTestBed bed_;
  PortManager manager_{bed_.logger, bed_.clock, 8};
  int nextPeerPort_ = 40000;
};

TEST_F(PortManagerTest, UnicastReachesOnlyThePortThatOwnsTheAddress) {
  TestPort a = join();
  TestPort b = join();
  TestPort c = join();
  manager_.learn(kStationB, *b.port, 0);
  manager_.learn(kStationC, *c.port, 0);

  const auto record = frameRecord(kStationB, kStationA);
  send(a, {record});

  ASSERT_EQ(framesAt(b), 1u);
  EXPECT_EQ(dataRecordsIn(b.stream->written())[0], record) << "forwarded byte for byte";
  EXPECT_EQ(framesAt(c), 0u);
  EXPECT_EQ(framesAt(a), 0u);
}

TEST_F(PortManagerTest, UnicastToAnUnknownAddressReachesNobody) {
  TestPort a = join();
  TestPort b = join();
  send(a, {frameRecord(kStationB, kStationA)});
  EXPECT_EQ(framesAt(b), 0u);
}

TEST_F(PortManagerTest, BroadcastAndMulticastReachEveryOtherLoggedInPort) {
  TestPort a = join();
  TestPort b = join();
  TestPort c = join();
  TestPort admittedOnly = join(false);

  send(a, {frameRecord(kBroadcast, kStationA), frameRecord(kMulticast, kStationA)});

  EXPECT_EQ(framesAt(b), 2u);
  EXPECT_EQ(framesAt(c), 2u);
  EXPECT_EQ(framesAt(a), 0u) << "never back to the sender";
  EXPECT_TRUE(admittedOnly.stream->written().empty()) << "a port that has not logged in";
}

TEST_F(PortManagerTest, APassIsOneSendPerReceiver) {
  TestPort a = join();
  TestPort b = join();
  manager_.learn(kStationB, *b.port, 0);
  const int callsBefore = b.stream->sendCalls();

  send(a, {frameRecord(kBroadcast, kStationA), frameRecord(kStationB, kStationA),
           frameRecord(kMulticast, kStationA), frameRecord(kStationC, kStationA)});

  EXPECT_EQ(b.stream->sendCalls() - callsBefore, 1);
  EXPECT_EQ(framesAt(b), 3u) << "the unicast to an unknown address is not among them";
}

TEST_F(PortManagerTest, GuestsNeverReachGuests) {
  struct Row {
    const char* what;
    bool sourceGuest;
    bool targetGuest;
    bool broadcast;
    bool delivered;
  };
  const Row rows[] = {
      {"guest to guest, broadcast", true, true, true, false},
      {"guest to guest, unicast", true, true, false, false},
      {"guest to member, broadcast", true, false, true, true},
      {"guest to member, unicast", true, false, false, true},
      {"member to guest, broadcast", false, true, true, true},
      {"member to guest, unicast", false, true, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TestPort source = join();
    TestPort target = join();
    source.port->setGuest(row.sourceGuest);
    target.port->setGuest(row.targetGuest);
    manager_.learn(kStationB, *target.port, 0);
    send(source, {frameRecord(row.broadcast ? kBroadcast : kStationB, kStationA)});
    EXPECT_EQ(framesAt(target), row.delivered ? 1u : 0u);
    manager_.removePort(*source.port);
    manager_.removePort(*target.port);
  }
}

TEST_F(PortManagerTest, UnicastStaysInItsDomainWhileBroadcastCrossesDomains) {
  TestPort first = join();
  TestPort second = join();
  first.port->setDomainIndex(1);
  second.port->setDomainIndex(2);
  manager_.learn(kStationB, *second.port, 0);

  send(first, {frameRecord(kBroadcast, kStationA)});
  EXPECT_EQ(framesAt(second), 1u);
  send(first, {frameRecord(kStationB, kStationA)});
  EXPECT_EQ(framesAt(second), 1u) << "the unicast did not cross into domain 2";
}

TEST_F(PortManagerTest, AccountWithoutBridgeAllowSendsOnlyFromAdapterAddresses) {
  struct Row {
    MacAddress source;
    bool bridgeAllow;
    bool delivered;
  };
  const Row rows[] = {
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, false, false},
      {{0x40, 0x11, 0x22, 0x33, 0x44, 0x55}, false, true},
      {{0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, false, true},
      {{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, false, false},
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << "source byte " << int{row.source[0]} << " bridge " << row.bridgeAllow);
    TestPort source = join();
    TestPort target = join();
    source.port->setBridgeAllow(row.bridgeAllow);
    manager_.learn(kStationB, *target.port, 0);
    send(source, {frameRecord(kStationB, row.source)});
    EXPECT_EQ(framesAt(target), row.delivered ? 1u : 0u);
    manager_.removePort(*source.port);
    manager_.removePort(*target.port);
  }
}

TEST_F(PortManagerTest, EachReceiverGetsItsRecordsInTheOrderOfThePass) {
  TestPort a = join();
  TestPort b = join();
  TestPort c = join();
  manager_.learn(kStationB, *b.port, 0);
  manager_.learn(kStationC, *c.port, 0);
  const auto toB1 = frameRecord(kStationB, kStationA, 46);
  const auto broadcast = frameRecord(kBroadcast, kStationA, 47);
  const auto toC = frameRecord(kStationC, kStationA, 48);
  const auto toB2 = frameRecord(kStationB, kStationA, 49);
  const auto multicast = frameRecord(kMulticast, kStationA, 50);

  send(a, {toB1, broadcast, toC, toB2, multicast});

  EXPECT_EQ(dataRecordsIn(b.stream->written()), (Records{toB1, broadcast, toB2, multicast}));
  EXPECT_EQ(dataRecordsIn(c.stream->written()), (Records{broadcast, toC, multicast}));
  EXPECT_EQ(framesAt(a), 0u);

  send(a, {toC, toB1, toC});
  EXPECT_EQ(dataRecordsIn(c.stream->written()), (Records{broadcast, toC, multicast, toC, toC}))
      << "a pass of unicasts only reaches its receivers, and the next pass starts afresh";
  EXPECT_EQ(framesAt(b), 5u);
}

TEST_F(PortManagerTest, ShortControlRecordWithoutDestinationIsDropped) {
  TestPort a = join();
  TestPort b = join();
  const std::uint8_t payload[] = {0xff, 0xff, 0xff};
  send(a, {makeRecord(0, 42, payload)});
  EXPECT_TRUE(recordsIn(b.stream->written()).size() == 1) << "only its LOGIN_OK";
}

TEST_F(PortManagerTest, SlowReceiverLosesBatchesBeyondTheLimitAndOthersKeepReceiving) {
  TestPort sender = join();
  TestPort fast = join();
  TestPort slow = join();
  slow.stream->setRoom(0);  // never reads; it has no writer thread either

  // Passes of ~60 KB: the slow port's queue crosses 4 MiB after 70 of them.
  const auto big = frameRecord(kBroadcast, kStationA, 60000);
  const int passes = 100;
  for (int i = 0; i < passes; ++i) {
    send(sender, {big});
  }
  EXPECT_EQ(framesAt(fast), static_cast<std::size_t>(passes));
  EXPECT_GT(slow.port->pendingSendBytes(), kMaxPendingSendBytes);
  EXPECT_LE(slow.port->pendingSendBytes(), kMaxPendingSendBytes + big.size());
  EXPECT_EQ(bed_.linesEndingWith(" SOCKETPORT::SendData SendPending TOO MUCH"), 1)
      << "once per second however many batches are dropped";

  bed_.clock.advance(1001ms);
  send(sender, {big});
  EXPECT_EQ(bed_.linesEndingWith(" SOCKETPORT::SendData SendPending TOO MUCH"), 2);
  EXPECT_EQ(framesAt(fast), static_cast<std::size_t>(passes + 1));
}

TEST_F(PortManagerTest, BytesSentCountsQueuedDataRecords) {
  TestPort a = join();
  TestPort b = join();
  const auto record = frameRecord(kBroadcast, kStationA, 2000);
  send(a, {record, record});
  EXPECT_EQ(b.port->bytesSent(), 2.0 * static_cast<double>(record.size()));
  EXPECT_EQ(a.port->bytesSent(), 0.0);
}

TEST_F(PortManagerTest, HealthCheckCutsPortsThatDoNotLogInWithinTenSeconds) {
  TestPort waiting = join(false);
  TestPort loggedIn = join();
  struct Row {
    std::chrono::milliseconds after;
    bool cut;
  };
  for (const Row row : {Row{10000ms, false}, Row{10001ms, true}}) {
    SCOPED_TRACE(row.after.count());
    bed_.clock.setTick(static_cast<platform::Tick>(row.after.count()));
    manager_.healthCheck();
    EXPECT_EQ(waiting.port->wasCut(), row.cut);
    EXPECT_TRUE(waiting.stream->shutDown() == row.cut);
  }
  EXPECT_FALSE(loggedIn.port->wasCut()) << "logged in without keep-alives: never checked";
  bed_.clock.advance(500ms);
  manager_.healthCheck();
  EXPECT_EQ(bed_.linesEndingWith("[unknown] 192.0.2.1:40000 # NOT LOGGED IN"), 1)
      << "logged once, not again while its thread cleans up";
}

TEST_F(PortManagerTest, HealthCheckCutsSilentKeepAlivePortsAfterTwentySeconds) {
  TestPort promised = join();
  TestPort silentWithoutPromise = join();
  promised.port->setKeepAlive();
  promised.port->setLastReceiveTick(5000);
  silentWithoutPromise.port->setLastReceiveTick(5000);

  bed_.clock.setTick(25000);
  manager_.healthCheck();
  EXPECT_FALSE(promised.port->wasCut()) << "exactly 20 s is not more than 20 s";
  bed_.clock.setTick(25001);
  manager_.healthCheck();
  EXPECT_TRUE(promised.port->wasCut());
  EXPECT_FALSE(silentWithoutPromise.port->wasCut());
  EXPECT_EQ(bed_.linesEndingWith("[unknown] 192.0.2.1:40000 # HEALTH CHECK TIMEOUT"), 1);
}

TEST_F(PortManagerTest, HealthCheckMeasuresAcrossTheTickWrap) {
  bed_.clock.setTick(0xFFFFF000u);
  TestPort waiting = join(false);
  bed_.clock.setTick(0x00001000u);  // 8192 ms later, after the 32-bit wrap
  manager_.healthCheck();
  EXPECT_FALSE(waiting.port->wasCut());
  bed_.clock.setTick(0x00001000u + 2000);
  manager_.healthCheck();
  EXPECT_TRUE(waiting.port->wasCut());
}

TEST_F(PortManagerTest, RemovedPortLeavesNoSlotAndNoAddress) {
  TestPort a = join();
  TestPort b = join();
  manager_.learn(kStationA, *a.port, 0);
  manager_.learn(kStationC, *a.port, 0);
  manager_.learn(kStationB, *b.port, 0);
  ASSERT_EQ(manager_.usedCount(), 2);

  manager_.removePort(*a.port);

  EXPECT_EQ(manager_.usedCount(), 1);
  EXPECT_FALSE(manager_.holds(*a.port));
  EXPECT_EQ(manager_.macTable().lookup(kStationA), nullptr);
  EXPECT_EQ(manager_.macTable().lookup(kStationC), nullptr);
  EXPECT_EQ(manager_.macTable().lookup(kStationB), b.port.get());
  EXPECT_EQ(manager_.macTable().size(), 1u);
  EXPECT_EQ(manager_.countLoggedIn(), 1);
}

TEST_F(PortManagerTest, ConnectionsAreCountedAgainstMaxConFromAcceptToCleanUp) {
  PortManager small(bed_.logger, bed_.clock, 2);
  EXPECT_TRUE(small.reserveConnection());
  EXPECT_TRUE(small.reserveConnection());
  EXPECT_FALSE(small.reserveConnection()) << "a third connection while two are being set up";
  small.releaseConnection();
  EXPECT_TRUE(small.reserveConnection());
}

TEST_F(PortManagerTest, PortListDescribesEveryOccupiedSlot) {
  EXPECT_TRUE(manager_.portList().empty()) << "an empty hub";
  TestPort waiting = join(false);
  TestPort member = join(true, "198.51.100.7");
  member.port->setAccount(u"bob#dev", 1);
  member.port->setGuest(true);
  member.port->updateAddressText("10.0.0.2");
  member.port->addBytesReceived(4096);
  TestPort sender = join();
  send(sender, {frameRecord(kBroadcast, kStationA, 3000)});

  const auto records = manager_.portList();
  ASSERT_EQ(records.size(), 3u);
  const common::PortListEntry first = common::decodePortListRecord(records[0]);
  EXPECT_EQ(first.state, 1);
  EXPECT_EQ(first.logName, "[unknown] 192.0.2.1:40000");
  const common::PortListEntry second = common::decodePortListRecord(records[1]);
  EXPECT_EQ(second.state, 2);
  EXPECT_EQ(second.logName, "[unknown] 198.51.100.7:40001");
  EXPECT_EQ(second.address, "10.0.0.2");
  EXPECT_EQ(second.guest, 1);
  EXPECT_EQ(second.account, "bob#dev");
  EXPECT_EQ(second.kilobytesReceived, 4);
  EXPECT_EQ(second.kilobytesSent, 2) << "3046 bytes, truncated to whole kilobytes";
}

TEST_F(PortManagerTest, CloseAllAndCutDomainCutPorts) {
  TestPort global = join();
  TestPort sales = join();
  sales.port->setDomainIndex(1);
  manager_.cutDomain(1);
  EXPECT_TRUE(sales.port->wasCut());
  EXPECT_FALSE(global.port->wasCut());
  manager_.closeAll();
  EXPECT_TRUE(global.port->wasCut());
}

TEST_F(PortManagerTest, RecheckAccountsCutsLockedAccountsAndRefreshesFlags) {
  testing::writeFile(bed_.dir.ini("0001_account.ini"),
                     accountFileText({{"alice", "pw", 0, true, 0, false}, {"bob", "pw", 1}}));
  AccountStore accounts(bed_.dir.path() + "ini/", 1, '\r');
  TestPort alice = join();
  alice.port->setAccount(u"alice", 0);
  TestPort bob = join();
  bob.port->setAccount(u"bob", 0);
  TestPort gone = join();
  gone.port->setAccount(u"carol", 0);
  TestPort withoutAccount = join();

  manager_.recheckAccounts(accounts);

  EXPECT_FALSE(alice.port->wasCut());
  EXPECT_TRUE(alice.port->guest());
  EXPECT_FALSE(alice.port->bridgeAllow());
  EXPECT_TRUE(bob.port->wasCut()) << "Status 1 locks the account";
  EXPECT_TRUE(gone.port->wasCut()) << "an account that no longer exists";
  EXPECT_FALSE(withoutAccount.port->wasCut()) << "logged in without authentication";
}

TEST_F(PortManagerTest, RecheckFilterCutsRefusedClientsIpv6Included) {
  testing::writeFile(bed_.dir.ini("0001_hosts.ini"),
                     "[deny]\r\nIPADDRESS=192.0.2.0\r\nMASK=255.255.255.0\r\nALLOW=FALSE\r\n"
                     "[by-name]\r\nHOSTNAME=blocked\r\nALLOW=FALSE\r\n");
  HostFilter filter(bed_.dir.path() + "ini/", 1);
  TestPort refused = join(true, "192.0.2.9");
  TestPort other = join(true, "198.51.100.1");
  TestPort ipv6 = join(true, "2001:db8::1");
  TestPort ipv6Named = join(true, "2001:db8::2");
  ipv6Named.port->setHostName("blocked.example.net");
  TestPort mapped = join(true, "::ffff:192.0.2.7");

  manager_.recheckFilter(filter);

  EXPECT_TRUE(refused.port->wasCut());
  EXPECT_FALSE(other.port->wasCut());
  EXPECT_FALSE(ipv6.port->wasCut()) << "an IPv4 network rule does not match IPv6";
  EXPECT_TRUE(ipv6Named.port->wasCut()) << "host name rules apply to IPv6 clients";
  EXPECT_TRUE(mapped.port->wasCut()) << "an IPv4-mapped address is its IPv4 client";
}

TEST(MacTable, BucketIsTheXorOfTheLittleEndianWords) {
  EXPECT_EQ(MacTable::bucketOf({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}), 0x0201 ^ 0x0403 ^ 0x0605);
  EXPECT_EQ(MacTable::bucketOf({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), 0xffff);
}

TEST(MacTable, AddressMovesToThePortItWasLastSeenOn) {
  HubTestBed bed;
  TestPort a = makeTestPort(bed);
  TestPort b = makeTestPort(bed);
  MacTable table(1);
  table.learn(kStationA, a.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationA), a.port.get());
  table.learn(kStationA, b.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationA), b.port.get());
  EXPECT_EQ(table.size(), 1u);
  table.forget(kStationA);
  EXPECT_EQ(table.lookup(kStationA), nullptr);
}

TEST(MacTable, FullPoolLearnsNoMoreUntilEntriesAreFreed) {
  HubTestBed bed;
  TestPort a = makeTestPort(bed);
  TestPort b = makeTestPort(bed);
  MacTable table(1);  // 32 entries
  for (std::uint8_t i = 0; i < kMacEntriesPerSlot; ++i) {
    table.learn({0x40, 0, 0, 0, 1, i}, a.port.get(), 0);
  }
  table.learn(kStationB, b.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationB), nullptr) << "the pool is full";
  table.learn({0x40, 0, 0, 0, 1, 0}, b.port.get(), 0);
  EXPECT_EQ(table.lookup({0x40, 0, 0, 0, 1, 0}), b.port.get()) << "a known address still moves";

  table.forgetPort(a.port.get());
  EXPECT_EQ(table.size(), 1u);
  table.learn(kStationB, b.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationB), b.port.get());
}

TEST(MacTable, AllZeroAddressIsNotLearned) {
  HubTestBed bed;
  TestPort a = makeTestPort(bed);
  MacTable table(1);
  table.learn(MacAddress{}, a.port.get(), 0);
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.lookup(MacAddress{}), nullptr);
}

TEST(MacTable, AddressesSharingABucketAreKeptApart) {
  HubTestBed bed;
  TestPort a = makeTestPort(bed);
  TestPort b = makeTestPort(bed);
  const MacAddress first = {0x01, 0x00, 0x02, 0x00, 0x00, 0x00};
  const MacAddress second = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00};  // 1 ^ 2 == 3
  ASSERT_EQ(MacTable::bucketOf(first), MacTable::bucketOf(second));
  MacTable table(1);
  table.learn(first, a.port.get(), 0);
  table.learn(second, b.port.get(), 0);
  EXPECT_EQ(table.lookup(first), a.port.get());
  EXPECT_EQ(table.lookup(second), b.port.get());
  table.forget(first);
  EXPECT_EQ(table.lookup(first), nullptr);
  EXPECT_EQ(table.lookup(second), b.port.get());
}

TEST(MacTable, EntriesAgeOutUnlessFramesRefreshThem) {
  HubTestBed bed;
  TestPort a = makeTestPort(bed);
  constexpr auto kAgeing = static_cast<platform::Tick>(kMacAgeingTime.count());
  struct Row {
    const char* what;
    platform::Tick learned;
    platform::Tick refreshed;
    platform::Tick sweep;
    bool kept;
  };
  const Row rows[] = {
      {"exactly the ageing time", 0, 0, kAgeing, true},
      {"a millisecond longer", 0, 0, kAgeing + 1, false},
      {"refreshed by a later frame", 0, 200000, kAgeing + 1, true},
      {"refreshed, then silent too long", 0, 200000, 200000 + kAgeing + 1, false},
      {"seen just after the sweep read its time", 5000, 5000, 4999, true},
      {"across the wrap of the tick", 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u + kAgeing, true},
      {"across the wrap, too long", 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u + kAgeing + 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MacTable table(1);
    table.learn(kStationA, a.port.get(), row.learned);
    table.learn(kStationA, a.port.get(), row.refreshed);
    EXPECT_EQ(table.expire(row.sweep), row.kept ? 0u : 1u);
    EXPECT_EQ(table.lookup(kStationA), row.kept ? a.port.get() : nullptr);
  }
}

TEST(MacTable, PortWithoutBridgePermissionHoldsOnlyItsShare) {
  HubTestBed bed;
  TestPort client = makeTestPort(bed);
  TestPort bridge = makeTestPort(bed);
  client.port->setBridgeAllow(false);
  const auto address = [](std::uint8_t group, std::uint8_t n) {
    return MacAddress{0x40, 0, 0, 0, group, n};
  };
  MacTable table(4);  // 128 entries
  for (std::uint8_t n = 0; n < 40; ++n) {
    table.learn(address(1, n), client.port.get(), 0);
  }
  EXPECT_EQ(table.size(), kMacEntriesPerPort);
  EXPECT_EQ(table.lookup(address(1, kMacEntriesPerPort)), nullptr);

  table.learn(kStationB, bridge.port.get(), 0);
  table.learn(kStationB, client.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationB), bridge.port.get()) << "not moved beyond the share either";
  table.forget(address(1, 0));
  table.learn(kStationB, client.port.get(), 0);
  EXPECT_EQ(table.lookup(kStationB), client.port.get()) << "a forgotten address frees a place";

  EXPECT_EQ(table.expire(kMacAgeingTime.count() + 1), kMacEntriesPerPort);
  for (std::uint8_t n = 0; n < kMacEntriesPerPort; ++n) {
    table.learn(address(2, n), client.port.get(), 400000);
  }
  EXPECT_EQ(table.size(), kMacEntriesPerPort) << "aged addresses gave the share back";

  for (std::uint8_t n = 0; n < 200; ++n) {
    table.learn(address(3, n), bridge.port.get(), 400000);
  }
  EXPECT_EQ(table.size(), table.capacity()) << "a bridge takes whatever the pool has free";
}

}  // namespace
}  // namespace korvane::hub
