// Unit tests of the client protocol as a port thread speaks it, over scripted streams and on a
// manual clock, so that the refusal delays cost no time.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/HubClient.h"
#include "hub/AccountStore.h"
#include "hub/DhcpDomains.h"
#include "hub/HostFilter.h"
#include "hub/PortManager.h"
#include "hub/PortThread.h"
#include "tests/hub/AccountFile.h"
#include "tests/hub/DhcpTestFrames.h"
#include "tests/hub/SwitchTestBed.h"
#include "tests/support/ChildProcess.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using common::AuthFlag;
using common::ControlType;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kWait = 5s;
constexpr MacAddress kStationA = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0a};
constexpr MacAddress kStationB = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0b};
constexpr MacAddress kStationC = {0x40, 0x00, 0x00, 0x00, 0x00, 0x0c};

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

std::uint32_t fieldOf(const Bytes& record, std::size_t offset) {
  return common::readBigEndian32(record.data() + offset);
}

/// A connection served by its own port thread.
struct Connection {
  TestPort test;
  std::thread thread;
  std::string logName;

  void feed(Bytes bytes) { test.stream->push(std::move(bytes)); }
  Bytes written() const { return test.stream->written(); }
  bool waitForWritten(std::size_t count) { return test.stream->waitForWritten(count, kWait); }
  ~Connection() { end(); }

  /// Waits for the thread to end after the client closed (or was cut).
  void end() {
    test.stream->closeFromClient();
    if (thread.joinable()) {
      thread.join();
    }
  }
};

class PortThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { makeHub(AuthFlag::kOff, {}); }

  void makeHub(AuthFlag authFlag, const std::vector<TestAccount>& accounts,
               const std::string& hosts = "", int slotCount = 8) {
    bed_.connections.authFlag = authFlag;
    testing::writeFile(bed_.dir.ini("0001_account.ini"), accountFileText(accounts));
    testing::writeFile(bed_.dir.ini("0001_hosts.ini"), hosts);
    bed_.connections.accounts = std::make_shared<AccountStore>(bed_.dir.path() + "ini/", 1, '#');
    bed_.connections.filter = std::make_shared<HostFilter>(bed_.dir.path() + "ini/", 1);
    bed_.connections.portManager =
        std::make_shared<PortManager>(bed_.logger, bed_.clock, slotCount);
  }

  /// Gives the global domain a DHCP service that hands out addresses.
  void startDhcp() {
    testing::writeFile(bed_.dir.ini("0001_dhcp.ini"),
                       "[DHCP]\r\nDHCPFlag=TRUE\r\nLowerAddress=192.168.10.100\r\n"
                       "UpperAddress=192.168.10.102\r\nSubNetMask=255.255.255.0\r\n");
    bed_.connections.dhcp = std::make_shared<DhcpDomains>(bed_.dir.ini(""), 1, bed_.clock, nullptr);
    bed_.connections.dhcp->load(*bed_.connections.accounts);
  }

  std::unique_ptr<Connection> connect(std::string address = "192.0.2.5") {
    auto connection = std::make_unique<Connection>();
    connection->test = makeTestPort(bed_, std::move(address), nextPeerPort_++);
    connection->test.port->setHostName("client.example");
    connection->logName = connection->test.port->logName();
    connection->thread = std::thread(
        [hub = bed_.connections, port = connection->test.port] { PortThread(hub, port).run(); });
    return connection;
  }

  bool waitForLog(const std::string& line) {
    return testing::waitUntil([&] { return bed_.log().find(line + "\r\n") != std::string::npos; },
                              kWait);
  }

  std::unique_ptr<Connection> loggedIn(std::string address = "192.0.2.5") {
    auto connection = connect(std::move(address));
    connection->feed(controlRecord(ControlType::kLogin, 1));
    EXPECT_TRUE(connection->waitForWritten(32));
    EXPECT_TRUE(waitForLog(connection->logName + " * LOGIN"));
    return connection;
  }

  /// A client logged in as `name` (password "secret") without keep-alives, so that moving the
  /// clock does not cut it.
  std::unique_ptr<Connection> loggedInAs(const std::string& name, std::string address) {
    auto connection = connect(std::move(address));
    const Bytes challenge = challengeAfterLogin(*connection, controlRecord(ControlType::kLogin));
    connection->feed(answerFor(challenge, name, "secret"));
    EXPECT_TRUE(connection->waitForWritten(48 + 32));
    EXPECT_TRUE(waitForLog(connection->logName + " * LOGIN AUTH OK : " + name));
    return connection;
  }

  /// Waits until the hub wrote `count` whole records to `connection`.
  static bool waitForRecords(const Connection& connection, std::size_t count) {
    return testing::waitUntil([&] { return recordsIn(connection.written()).size() >= count; },
                              kWait);
  }

  /// The AUTH_CHALLENGE the hub answered a LOGIN with (empty when none came).
  Bytes challengeAfterLogin(Connection& connection, const Bytes& login) {
    connection.feed(login);
    if (!connection.waitForWritten(48)) {
      return {};
    }
    return connection.written();
  }

  Bytes answerFor(const Bytes& challengeRecord, const std::string& name,
                  const std::string& password) {
    std::span<const std::uint8_t, 16> challenge(challengeRecord.data() + 32, 16);
    const auto answer = common::challengeAnswer(challenge, {name, password});
    EXPECT_TRUE(answer.has_value());
    return controlRecord(ControlType::kAuthAnswer, 0, *answer);
  }

  HubTestBed bed_;
  int nextPeerPort_ = 50000;
};

TEST_F(PortThreadTest, KeepAliveIsEchoedWithoutItsPayload) {
  auto client = connect();
  Bytes keepAlive = controlRecord(ControlType::kKeepAlive, 0, Bytes{1, 2, 3});
  keepAlive[24] = 0x5A;  // client bytes are echoed
  client->feed(keepAlive);
  ASSERT_TRUE(client->waitForWritten(32));
  const Bytes echo = client->written();
  ASSERT_EQ(echo.size(), 32u) << "the payload is not echoed";
  EXPECT_EQ(fieldOf(echo, common::kTypeOffset), 3u);
  EXPECT_EQ(fieldOf(echo, common::kPayloadLengthOffset), 0u) << "no payload follows the echo";
  EXPECT_EQ(echo[24], 0x5A);
  EXPECT_NE(client->test.port->state(), PortState::kLoggedIn) << "a keep-alive does not log in";
  client->end();
}

TEST_F(PortThreadTest, LoginWithoutAuthenticationIsAcceptedAtOnce) {
  auto client = connect();
  client->feed(controlRecord(ControlType::kLogin, 1));
  ASSERT_TRUE(client->waitForWritten(32));
  EXPECT_EQ(client->written(), loginOkRecord());
  ASSERT_TRUE(waitForLog(client->logName + " * LOGIN"));
  EXPECT_TRUE(waitForLog("Current Connection Count = 1"));
  EXPECT_EQ(client->test.port->state(), PortState::kLoggedIn);
  EXPECT_TRUE(client->test.port->keepAlive()) << "option 1 promised keep-alives";
  client->end();
  EXPECT_TRUE(waitForLog(client->logName + " - DISCONNECTED"));
}

TEST_F(PortThreadTest, LoginWithOptionZeroPromisesNoKeepAlives) {
  auto client = connect();
  client->feed(controlRecord(ControlType::kLogin, 0));
  ASSERT_TRUE(client->waitForWritten(32));
  EXPECT_FALSE(client->test.port->keepAlive());
  client->end();
}

TEST_F(PortThreadTest, ChallengeAndRightAnswerLogTheAccountIn) {
  makeHub(AuthFlag::kOn, {{"alice#sales", "secret", 0, true, 0, false}});
  auto client = connect();
  Bytes login = controlRecord(ControlType::kLogin, 1);
  for (std::size_t i = 20; i < 32; ++i) {
    login[i] = static_cast<std::uint8_t>(i);
  }
  const Bytes challenge = challengeAfterLogin(*client, login);
  ASSERT_EQ(challenge.size(), 48u);
  EXPECT_EQ(fieldOf(challenge, 0), common::kRecordMagic);
  EXPECT_EQ(fieldOf(challenge, common::kPayloadLengthOffset), 16u);
  EXPECT_EQ(fieldOf(challenge, common::kKindOffset), 0u);
  EXPECT_EQ(fieldOf(challenge, common::kTypeOffset), 7u);
  EXPECT_EQ(fieldOf(challenge, common::kPlainLengthOffset), 0u);
  EXPECT_TRUE(std::equal(login.begin() + 20, login.begin() + 32, challenge.begin() + 20))
      << "bytes 20..31 stay as the client sent them";

  client->feed(answerFor(challenge, "alice#sales", "secret"));
  ASSERT_TRUE(client->waitForWritten(48 + 32));
  const Bytes written = client->written();
  EXPECT_EQ(Bytes(written.begin() + 48, written.end()), loginOkRecord());
  ASSERT_TRUE(waitForLog(client->logName + " * LOGIN AUTH OK : alice#sales"));
  EXPECT_TRUE(waitForLog("Current Connection Count = 1"));
  const SocketPort& port = *client->test.port;
  EXPECT_EQ(port.state(), PortState::kLoggedIn);
  EXPECT_TRUE(port.guest());
  EXPECT_FALSE(port.bridgeAllow());
  EXPECT_EQ(port.domainIndex(), 1);
  EXPECT_EQ(port.accountName(), u"alice#sales");
  EXPECT_EQ(bed_.connections.accounts->connectionCountOf(u"alice#sales"), 1);

  client->end();
  EXPECT_EQ(bed_.connections.accounts->connectionCountOf(u"alice#sales"), 0)
      << "released at the end";
}

TEST_F(PortThreadTest, WrongAnswerIsRefusedAfterFiveSecondsAndTheConnectionEnds) {
  makeHub(AuthFlag::kOn, {{"alice", "secret"}});
  auto client = connect();
  const Bytes challenge = challengeAfterLogin(*client, controlRecord(ControlType::kLogin, 1));
  ASSERT_EQ(challenge.size(), 48u);
  const platform::Tick before = bed_.clock.tickCount();

  Bytes answer = answerFor(challenge, "alice", "wrong");
  for (std::size_t i = 20; i < 32; ++i) {
    answer[i] = 0xEE;
  }
  client->feed(answer);
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();

  const Bytes written = client->written();
  ASSERT_EQ(written.size(), 48u + 32u);
  const Bytes denied(written.begin() + 48, written.end());
  EXPECT_EQ(fieldOf(denied, common::kTypeOffset), 9u);
  EXPECT_EQ(fieldOf(denied, common::kPayloadLengthOffset), 0u);
  EXPECT_EQ(fieldOf(denied, common::kKindOffset), 0u);
  EXPECT_EQ(Bytes(denied.begin() + 20, denied.begin() + 26), Bytes(6, 0xEE));
  EXPECT_EQ(Bytes(denied.begin() + 26, denied.end()), Bytes(6, 0));
  EXPECT_EQ(bed_.clock.tickCount() - before, 5500u) << "5 s before the answer, 0.5 s after";
  const std::string log = bed_.log();
  const auto deny = log.find(client->logName + " [WARNING] LOGIN AUTH DENY");
  const auto cut = log.find(client->logName + " - CUT FROM HUB");
  ASSERT_NE(deny, std::string::npos);
  ASSERT_NE(cut, std::string::npos);
  EXPECT_LT(deny, cut);
  EXPECT_EQ(log.find("DISCONNECTED"), std::string::npos);
}

TEST_F(PortThreadTest, AnswerWithoutChallengeIsRefused) {
  makeHub(AuthFlag::kOn, {{"alice", "secret"}});
  auto client = connect();
  client->feed(controlRecord(ControlType::kAuthAnswer, 0, Bytes(16, 1)));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(waitForLog(client->logName + " [WARNING] LOGIN AUTH DENY"));
}

TEST_F(PortThreadTest, AccountAtItsConnectionLimitIsRefusedAndItsCountStaysRight) {
  makeHub(AuthFlag::kOn, {{"alice", "secret", 0, false, 1}});
  ASSERT_TRUE(bed_.connections.accounts->acquire(u"alice"));  // another connection uses it
  auto client = connect();
  const Bytes challenge = challengeAfterLogin(*client, controlRecord(ControlType::kLogin, 1));
  client->feed(answerFor(challenge, "alice", "secret"));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(waitForLog(client->logName + " [WARNING] USER CONNECTION TOO MUCH"));
  const Bytes written = client->written();
  EXPECT_EQ(fieldOf(Bytes(written.begin() + 48, written.end()), common::kTypeOffset), 9u);
  EXPECT_EQ(bed_.connections.accounts->connectionCountOf(u"alice"), 1);
}

TEST_F(PortThreadTest, SecondAnswerOnOneConnectionDoesNotCountTheAccountTwice) {
  makeHub(AuthFlag::kOn, {{"alice", "secret", 0, false, 1}});
  auto client = connect();
  const Bytes challenge = challengeAfterLogin(*client, controlRecord(ControlType::kLogin, 1));
  const Bytes answer = answerFor(challenge, "alice", "secret");
  client->feed(answer);
  ASSERT_TRUE(client->waitForWritten(48 + 32));
  client->feed(answer);
  ASSERT_TRUE(client->waitForWritten(48 + 64)) << "logged in again, not refused";
  const Bytes written = client->written();
  EXPECT_EQ(fieldOf(Bytes(written.begin() + 80, written.end()), common::kTypeOffset), 1u);
  client->end();
  EXPECT_EQ(bed_.connections.accounts->connectionCountOf(u"alice"), 0);
}

TEST_F(PortThreadTest, AnswerOfFifteenBytesCutsWithoutReply) {
  makeHub(AuthFlag::kOn, {{"alice", "secret"}});
  auto client = connect();
  const platform::Tick before = bed_.clock.tickCount();
  client->feed(controlRecord(ControlType::kAuthAnswer, 0, Bytes(15, 1)));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(client->written().empty());
  EXPECT_TRUE(waitForLog(client->logName + " [WARNING] ILLEGAL AUTHANS LENGTH"));
  EXPECT_TRUE(waitForLog(client->logName + " - CUT FROM HUB"));
  EXPECT_EQ(bed_.clock.tickCount(), before);
}

TEST_F(PortThreadTest, AnswerWhenNoneIsRequiredCutsAfterHalfASecond) {
  auto client = connect();
  const platform::Tick before = bed_.clock.tickCount();
  client->feed(controlRecord(ControlType::kAuthAnswer, 0, Bytes(16, 1)));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(client->written().empty());
  EXPECT_TRUE(waitForLog(client->logName + " [WARNING] AUTHANS NOT REQUIRED"));
  EXPECT_TRUE(waitForLog(client->logName + " - CUT FROM HUB"));
  EXPECT_EQ(bed_.clock.tickCount() - before, 500u);
}

TEST_F(PortThreadTest, RecordsAreHandledAlikeHoweverTheStreamIsCut) {
  const Bytes keepAlive = controlRecord(ControlType::kKeepAlive);
  struct Row {
    const char* what;
    std::vector<Bytes> chunks;
  };
  const Bytes two = joined({keepAlive, keepAlive});
  const Row rows[] = {
      {"two records in one segment", {two}},
      {"one record split over three segments",
       {Bytes(keepAlive.begin(), keepAlive.begin() + 5),
        Bytes(keepAlive.begin() + 5, keepAlive.begin() + 20),
        Bytes(keepAlive.begin() + 20, keepAlive.end()), keepAlive}},
      {"the second record split across segments",
       {Bytes(two.begin(), two.begin() + 40), Bytes(two.begin() + 40, two.end())}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto client = connect();
    for (const Bytes& chunk : row.chunks) {
      client->feed(chunk);
    }
    ASSERT_TRUE(client->waitForWritten(64));
    EXPECT_EQ(recordsIn(client->written()).size(), 2u);
    client->end();
  }
}

TEST_F(PortThreadTest, BadMagicMidPassEndsTheConnectionAfterTheRecordsBeforeIt) {
  auto client = connect();
  Bytes bad = controlRecord(ControlType::kKeepAlive);
  bad[0] = 0x00;
  client->feed(
      joined({controlRecord(ControlType::kLogin, 1), bad, controlRecord(ControlType::kKeepAlive)}));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_EQ(client->written(), loginOkRecord()) << "the login before it was answered";
  const std::string log = bed_.log();
  const auto preamble = log.find(client->logName + " [WARNING] Preamble Error\r\n");
  const auto cut = log.find(client->logName + " - CUT FROM HUB\r\n");
  ASSERT_NE(preamble, std::string::npos);
  ASSERT_NE(cut, std::string::npos);
  EXPECT_LT(preamble, cut);
}

TEST_F(PortThreadTest, RecordLongerThanTheBufferEndsTheConnectionWhenItIsFull) {
  auto client = connect();
  Bytes header = makeRecord(1, 0, {});
  common::writeBigEndian32(header.data() + common::kPayloadLengthOffset, 70000);
  client->feed(header);
  client->feed(Bytes(kReceiveBufferSize - header.size(), 0x11));
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(waitForLog(client->logName + " - DISCONNECTED"));
}

TEST_F(PortThreadTest, FramesReachOtherClientsAndTheirAddressesAreLearned) {
  auto first = loggedIn("192.0.2.5");
  auto second = loggedIn("192.0.2.6");
  const Bytes broadcast = frameRecord(kBroadcast, kStationA);
  first->feed(broadcast);
  ASSERT_TRUE(second->waitForWritten(32 + broadcast.size()));
  EXPECT_EQ(dataRecordsIn(second->written()), std::vector<Bytes>{broadcast});

  const Bytes unicast = frameRecord(kStationA, kStationB);
  second->feed(unicast);
  ASSERT_TRUE(first->waitForWritten(32 + unicast.size()));
  EXPECT_EQ(dataRecordsIn(first->written()), std::vector<Bytes>{unicast});
  EXPECT_EQ(first->test.port->bytesReceived(), static_cast<double>(broadcast.size()));

  const PortManager& ports = *bed_.connections.portManager;
  EXPECT_EQ(ports.macTable().lookup(kStationA), first->test.port.get());
  first->end();
  EXPECT_EQ(ports.macTable().lookup(kStationA), nullptr) << "forgotten with its port";
  EXPECT_FALSE(ports.holds(*first->test.port));
  EXPECT_EQ(ports.usedCount(), 1);
  second->end();
  EXPECT_EQ(ports.usedCount(), 0);
  EXPECT_EQ(ports.macTable().size(), 0u);
  EXPECT_TRUE(waitForLog("Current Connection Count = 0"));
}

TEST_F(PortThreadTest, FrameFromAPortThatHasNotLoggedInIsStillSwitched) {
  auto member = loggedIn("192.0.2.5");
  auto newcomer = connect("192.0.2.6");
  const Bytes broadcast = frameRecord(kBroadcast, kStationB);
  newcomer->feed(broadcast);
  ASSERT_TRUE(member->waitForWritten(32 + broadcast.size()));
  EXPECT_TRUE(newcomer->written().empty());
  member->end();
  newcomer->end();
}

TEST_F(PortThreadTest, ClientThatHasNotLoggedInIsHeardOnlyForItsLoginWhenAuthenticationIsOn) {
  makeHub(AuthFlag::kOn, {{"alice", "secret"}, {"bob", "secret"}});
  startDhcp();
  auto station = loggedInAs("alice", "192.0.2.5");
  auto member = loggedInAs("bob", "192.0.2.6");
  const Bytes stationHello = frameRecord(kBroadcast, kStationA);
  station->feed(stationHello);
  ASSERT_TRUE(waitForRecords(*member, 3));  // challenge, LOGIN_OK, the hello

  auto intruder = connect("192.0.2.7");
  testframes::DhcpMessage discover;
  discover.station = kStationB;
  intruder->feed(joined({frameRecord(kBroadcast, kStationA),  // the station's address, forged
                         testframes::plainRecord(testframes::dhcpFrame(discover)),
                         makeRecord(0, 42, Bytes(20, 0xff))}));
  intruder->feed(controlRecord(ControlType::kKeepAlive));  // its own pass, after the first
  ASSERT_TRUE(waitForRecords(*intruder, 1));
  EXPECT_EQ(recordsIn(intruder->written()).size(), 1u) << "the echo, and no DHCP offer";

  const Bytes toStation = frameRecord(kStationA, kStationB);
  member->feed(toStation);
  ASSERT_TRUE(waitForRecords(*station, 3)) << "the station's address stayed with the station";
  EXPECT_EQ(dataRecordsIn(station->written()), std::vector<Bytes>{toStation});
  EXPECT_EQ(dataRecordsIn(member->written()), std::vector<Bytes>{stationHello})
      << "nothing of the intruder's reached a logged-in client";
  const MacTable& table = bed_.connections.portManager->macTable();
  EXPECT_EQ(table.lookup(kStationA), station->test.port.get());
  EXPECT_EQ(table.size(), 2u) << "only the station and the member were learned";

  // The same DISCOVER from a client that logged in is answered.
  member->feed(testframes::plainRecord(testframes::dhcpFrame(discover)));
  EXPECT_TRUE(waitForRecords(*member, 4));
  intruder->end();
  station->end();
  member->end();
}

TEST_F(PortThreadTest, RecordsTheHubAnswersGoNoFurther) {
  startDhcp();
  auto client = loggedIn("192.0.2.5");
  auto other = loggedIn("192.0.2.6");
  testframes::DhcpMessage discover;
  discover.station = kStationA;
  const Bytes marker = frameRecord(kBroadcast, kStationA);
  // A keep-alive whose payload would read as a broadcast address, a DISCOVER the hub answers,
  // and a frame to switch, all in one pass.
  client->feed(joined({controlRecord(ControlType::kKeepAlive, 0, Bytes(6, 0xff)),
                       testframes::plainRecord(testframes::dhcpFrame(discover)), marker}));
  ASSERT_TRUE(waitForRecords(*other, 2));   // LOGIN_OK, the marker
  ASSERT_TRUE(waitForRecords(*client, 3));  // LOGIN_OK, the echo, the offer
  EXPECT_EQ(recordsIn(other->written()).size(), 2u);
  EXPECT_EQ(dataRecordsIn(other->written()), std::vector<Bytes>{marker});
  EXPECT_EQ(client->test.port->addressText(), "192.168.10.100") << "the address offered";
  client->end();
  other->end();
}

TEST_F(PortThreadTest, ForgedAddressesOfOneClientLeaveRoomForOthersAndAgeOut) {
  constexpr int kSlots = 4;  // a pool of 128 addresses, fewer than the forger sends
  constexpr std::size_t kForged = 200;
  makeHub(AuthFlag::kOn,
          {{"mallory", "secret", 0, false, 0, false}, {"alice", "secret"}, {"bob", "secret"}}, "",
          kSlots);
  const auto forgedAddress = [](std::size_t n) {
    return MacAddress{
        0x40, 0xee, 0, 0, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  };
  auto forger = loggedInAs("mallory", "192.0.2.5");
  auto member = loggedInAs("bob", "192.0.2.6");
  Bytes forged;
  for (std::size_t n = 0; n < kForged; ++n) {
    const Bytes record = frameRecord(kStationC, forgedAddress(n));
    forged.insert(forged.end(), record.begin(), record.end());
  }
  forger->feed(forged);
  forger->feed(controlRecord(ControlType::kKeepAlive));
  ASSERT_TRUE(waitForRecords(*forger, 3));

  auto station = loggedInAs("alice", "192.0.2.7");
  station->feed(frameRecord(kBroadcast, kStationA));
  ASSERT_TRUE(waitForRecords(*member, 3));
  member->feed(frameRecord(kStationA, kStationB));
  ASSERT_TRUE(waitForRecords(*station, 3)) << "the station was learned despite the forger";
  const MacTable& table = bed_.connections.portManager->macTable();
  EXPECT_EQ(table.lookup(forgedAddress(kMacEntriesPerPort - 1)), forger->test.port.get());
  EXPECT_EQ(table.lookup(forgedAddress(kMacEntriesPerPort)), nullptr) << "beyond its share";

  // The station speaks again 200 s later; a sweep after the ageing time keeps it alone.
  bed_.clock.advance(200s);
  station->feed(frameRecord(kBroadcast, kStationA));
  ASSERT_TRUE(waitForRecords(*member, 4));
  bed_.clock.advance(kMacAgeingTime - 200s + 1ms);
  bed_.connections.portManager->healthCheck();
  EXPECT_EQ(table.lookup(forgedAddress(0)), nullptr);
  EXPECT_EQ(table.lookup(kStationA), station->test.port.get());
  EXPECT_EQ(table.size(), 1u) << "the member's address aged out as well";
  EXPECT_FALSE(forger->test.port->wasCut()) << "ageing forgets addresses, not clients";
  forger->end();
  station->end();
  member->end();
}

TEST_F(PortThreadTest, DataRecordTooShortForAddressesIsDropped) {
  auto first = loggedIn("192.0.2.5");
  auto second = loggedIn("192.0.2.6");
  first->feed(makeRecord(1, 0, Bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x40}));
  first->feed(frameRecord(kBroadcast, kStationA));
  ASSERT_TRUE(second->test.stream->waitForWritten(32 + 32 + 60, kWait));
  EXPECT_EQ(dataRecordsIn(second->written()).size(), 1u) << "only the whole frame";
  first->end();
  second->end();
}

TEST_F(PortThreadTest, SourceAddressOfAPhysicalNetworkMarksTheClientAsBridge) {
  struct Row {
    std::uint8_t firstByte;
    bool bridge;
  };
  for (const Row row : {Row{0x00, true}, Row{0x02, false}, Row{0x40, false}, Row{0x52, false}}) {
    SCOPED_TRACE(int{row.firstByte});
    auto client = loggedIn();
    client->feed(frameRecord(kBroadcast, {row.firstByte, 0x1b, 0, 0, 0, 1}));
    client->feed(controlRecord(ControlType::kKeepAlive));
    ASSERT_TRUE(client->waitForWritten(64));
    EXPECT_EQ(client->test.port->addressText(), row.bridge ? "Bridge" : "");
    client->end();
  }
}

TEST_F(PortThreadTest, FilterRefusesAnIpv4ClientBeforeItsLogin) {
  makeHub(AuthFlag::kOff, {},
          "[deny]\r\nIPADDRESS=192.0.2.0\r\nMASK=255.255.255.0\r\nALLOW=FALSE\r\n");
  auto refused = connect("192.0.2.5");
  ASSERT_TRUE(refused->test.stream->waitForClose(kWait));
  refused->end();
  EXPECT_TRUE(waitForLog(refused->logName + " [WARNING] CONNECTION REJECTED by filter[deny]"));
  EXPECT_TRUE(refused->written().empty());
  EXPECT_EQ(bed_.connections.portManager->usedCount(), 0);

  auto ipv6 = connect("2001:db8::5");
  ipv6->feed(controlRecord(ControlType::kLogin, 1));
  EXPECT_TRUE(ipv6->waitForWritten(32)) << "an IPv4 network rule does not match IPv6";
  ipv6->end();
}

TEST_F(PortThreadTest, CutByTheHubIsLoggedAsACut) {
  auto client = loggedIn();
  client->test.port->cut();
  ASSERT_TRUE(client->test.stream->waitForClose(kWait));
  client->end();
  EXPECT_TRUE(waitForLog(client->logName + " - CUT FROM HUB"));
  EXPECT_EQ(bed_.log().find("DISCONNECTED"), std::string::npos);
}

TEST_F(PortThreadTest, UnhandledControlRecordIsSwitchedByItsDestination) {
  auto first = loggedIn("192.0.2.5");
  auto second = loggedIn("192.0.2.6");
  const Bytes odd = makeRecord(0, 42, Bytes(20, 0xff));
  first->feed(odd);
  ASSERT_TRUE(second->waitForWritten(32 + odd.size()));
  EXPECT_EQ(recordsIn(second->written()).back(), odd);
  first->end();
  second->end();
}

}  // namespace
}  // namespace korvane::hub
