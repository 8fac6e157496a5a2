// Process-level tests of kvhub's client connections: logins, switching over IPv4 and IPv6, the
// hub's answers to faulty clients, the connection limit, and a client that stops reading.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/ClientRecord.h"
#include "common/ControlMessage.h"
#include "common/HubClient.h"
#include "platform/LocalPipe.h"
#include "tests/hub/AccountFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using common::ControlType;
using common::HubClient;
using common::LoginResult;
using common::ReceivedRecord;
using common::ReceiveResult;
using testing::ChildProcess;
using testing::waitUntil;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kLimit = 10s;

Bytes frame(const std::array<std::uint8_t, 6>& destination,
            const std::array<std::uint8_t, 6>& source, std::size_t size = 60) {
  Bytes bytes(destination.begin(), destination.end());
  bytes.insert(bytes.end(), source.begin(), source.end());
  bytes.resize(size, 0x5A);
  bytes[12] = 0x08;
  bytes[13] = 0x00;
  return bytes;
}

constexpr std::array<std::uint8_t, 6> kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
constexpr std::array<std::uint8_t, 6> kStationA = {0x40, 0, 0, 0, 0, 0x0a};
constexpr std::array<std::uint8_t, 6> kStationB = {0x40, 0, 0, 0, 0, 0x0b};

bool ipv6LoopbackWorks() {
  return testing::LoopbackServer("::1").started();
}

/// Waits for the next data record; skips control records such as keep-alive echoes.
std::optional<Bytes> nextFrame(HubClient& client, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left <= 0ms) {
      return std::nullopt;
    }
    ReceivedRecord record;
    std::string err;
    if (client.receiveRecord(&record, left, &err) != ReceiveResult::kRecord) {
      return std::nullopt;
    }
    if (!record.isControl()) {
      return Bytes(record.payload.begin(), record.payload.end());
    }
  }
}

class HubConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.useForThisProcess(); }

  void TearDown() override {
    if (hub_ && hub_->started()) {
      stopHub();
    }
  }

  void startHub(const std::string& settings, const std::vector<TestAccount>& accounts = {},
                int port = 0) {
    port_ = port != 0 ? port : testing::freeTcpPort();
    testing::writeFile(dir_.ini("Tollmar.ini"),
                       "[SYSTEM]\r\nDomainSplitter=#\r\n[0001]\r\nPortNo=" + std::to_string(port_) +
                           "\r\n" + settings);
    testing::writeFile(dir_.ini("0001_account.ini"), accountFileText(accounts));
    hub_ = std::make_unique<ChildProcess>(testing::builtProgram("kvhub"),
                                          std::vector<std::string>{"0001"}, dir_.path(),
                                          dir_.path() + "output.txt");
    ASSERT_TRUE(hub_->started());
    ASSERT_TRUE(
        waitUntil([&] { return log().find("Process started") != std::string::npos; }, kLimit));
  }

  void stopHub() {
    std::string err;
    auto pipe = platform::openPipe(common::hubPipeName(1), &err);
    if (pipe) {
      common::ControlHeader request;
      request.command = 1;
      const auto bytes = common::encodeControlHeader(request);
      (void)(pipe->writeAll(bytes) && pipe->finishAndWaitForClose(5s));
    }
    EXPECT_EQ(hub_->waitForExit(15s), 0);
  }

  /// A client connected to the hub; the first connections may come before the hub listens.
  std::unique_ptr<HubClient> connect(const std::string& host = "127.0.0.1") {
    std::unique_ptr<HubClient> client;
    const bool connected = waitUntil(
        [&] {
          client = std::make_unique<HubClient>();
          std::string err;
          return client->connect(host, port_, &err);
        },
        kLimit);
    EXPECT_TRUE(connected) << "cannot connect to the hub on " << host;
    if (connected) {
      client->setNoDelay(true);
    }
    return client;
  }

  std::unique_ptr<HubClient> loggedIn(const std::string& host = "127.0.0.1",
                                      std::optional<common::Credentials> account = {}) {
    auto client = connect(host);
    std::string err;
    EXPECT_EQ(client->login(true, account, kLimit, &err), LoginResult::kAccepted) << err;
    return client;
  }

  std::string log() const { return testing::readFile(dir_.log("0001_1.log")); }
  bool waitForLog(const std::string& text) {
    return waitUntil([&] { return log().find(text) != std::string::npos; }, kLimit);
  }
  /// The number in the last "Current Connection Count = %d" line; -1 without one.
  int lastConnectionCount() const {
    const std::string text = log();
    const std::string line = "Current Connection Count = ";
    const auto at = text.rfind(line);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + line.size());
  }

  testing::TempProgramDir dir_;
  std::unique_ptr<ChildProcess> hub_;
  int port_ = 0;
};

TEST_F(HubConnectionTest, ClientsOverIpv4AndIpv6SwitchFramesAndGetKeepAliveEchoes) {
  startHub("AuthFlag=0\r\n");
  const std::string otherHost = ipv6LoopbackWorks() ? "::1" : "127.0.0.1";
  auto first = loggedIn("127.0.0.1");
  auto second = loggedIn(otherHost);
  ASSERT_TRUE(waitForLog("Current Connection Count = 2"));

  std::string err;
  const Bytes broadcast = frame(kBroadcast, kStationA);
  ASSERT_TRUE(first->sendFrame(broadcast, 1, &err)) << err;
  EXPECT_EQ(nextFrame(*second, kLimit), broadcast);

  const Bytes unicast = frame(kStationA, kStationB);
  ASSERT_TRUE(second->sendFrame(unicast, 1, &err)) << err;
  EXPECT_EQ(nextFrame(*first, kLimit), unicast) << "the hub learned station A from its broadcast";

  ASSERT_TRUE(first->sendKeepAlive(&err)) << err;
  ReceivedRecord echo;
  ASSERT_EQ(first->receiveRecord(&echo, kLimit, &err), ReceiveResult::kRecord) << err;
  EXPECT_TRUE(echo.isControlType(ControlType::kKeepAliveEcho));
  EXPECT_EQ(echo.header.payloadLength, 0u);

  first->shutdown();
  EXPECT_TRUE(waitForLog(" - DISCONNECTED"));
  EXPECT_TRUE(waitUntil([&] { return lastConnectionCount() == 1; }, kLimit));
  if (otherHost == "::1") {
    EXPECT_NE(log().find("] ::1:"), std::string::npos) << "the IPv6 client's log name";
  }
}

TEST_F(HubConnectionTest, AccountLoginAnswersTheChallenge) {
  startHub("AuthFlag=1\r\n", {{"alice#sales", "secret"}});
  auto client = loggedIn("127.0.0.1", common::Credentials{"alice#sales", "secret"});
  EXPECT_TRUE(waitForLog(" * LOGIN AUTH OK : alice#sales\r\n"));
  EXPECT_TRUE(waitForLog("Current Connection Count = 1\r\n"));
}

TEST_F(HubConnectionTest, RefusedLoginIsAnsweredAfterFiveSecondsAndThenClosed) {
  startHub("AuthFlag=1\r\n", {{"alice", "secret"}});
  auto client = connect();
  std::string err;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client->login(true, common::Credentials{"alice", "wrong"}, kLimit, &err),
            LoginResult::kDenied);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 4900ms);
  ReceivedRecord record;
  EXPECT_EQ(client->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed);
  EXPECT_TRUE(waitForLog(" [WARNING] LOGIN AUTH DENY\r\n"));
  EXPECT_TRUE(waitForLog(" - CUT FROM HUB\r\n"));
}

TEST_F(HubConnectionTest, AuthenticationAnswerOfFifteenBytesIsCutWithoutReply) {
  startHub("AuthFlag=1\r\n", {{"alice", "secret"}});
  auto client = connect();
  std::string err;
  common::RecordHeader login;
  login.type = static_cast<std::uint32_t>(ControlType::kLogin);
  ASSERT_TRUE(client->sendRaw(common::encodeRecordHeader(login), &err)) << err;
  ReceivedRecord challenge;
  ASSERT_EQ(client->receiveRecord(&challenge, kLimit, &err), ReceiveResult::kRecord) << err;
  ASSERT_TRUE(challenge.isControlType(ControlType::kAuthChallenge));

  common::RecordHeader answer;
  answer.type = static_cast<std::uint32_t>(ControlType::kAuthAnswer);
  answer.payloadLength = 15;
  Bytes bytes;
  const auto header = common::encodeRecordHeader(answer);
  bytes.assign(header.begin(), header.end());
  bytes.resize(bytes.size() + 15, 7);
  ASSERT_TRUE(client->sendRaw(bytes, &err)) << err;
  ReceivedRecord record;
  EXPECT_EQ(client->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed)
      << "no LOGIN_DENIED, just the end";
  EXPECT_TRUE(waitForLog(" [WARNING] ILLEGAL AUTHANS LENGTH\r\n"));
  EXPECT_TRUE(waitForLog(" - CUT FROM HUB\r\n"));
}

TEST_F(HubConnectionTest, BadMagicAfterAGoodRecordLogsAPreambleErrorAndCuts) {
  startHub("AuthFlag=0\r\n");
  auto client = connect();
  common::RecordHeader keepAlive;
  keepAlive.type = static_cast<std::uint32_t>(ControlType::kKeepAlive);
  const auto good = common::encodeRecordHeader(keepAlive);
  Bytes bytes(good.begin(), good.end());
  bytes.insert(bytes.end(), good.begin(), good.end());
  bytes[32] = 0x12;  // the second header's magic is wrong
  std::string err;
  ASSERT_TRUE(client->sendRaw(bytes, &err)) << err;
  ReceivedRecord record;
  ASSERT_EQ(client->receiveRecord(&record, kLimit, &err), ReceiveResult::kRecord);
  EXPECT_TRUE(record.isControlType(ControlType::kKeepAliveEcho));
  EXPECT_EQ(client->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed);
  ASSERT_TRUE(waitForLog(" - CUT FROM HUB\r\n"));
  const std::string text = log();
  EXPECT_LT(text.find(" [WARNING] Preamble Error\r\n"), text.find(" - CUT FROM HUB\r\n"));
}

TEST_F(HubConnectionTest, ConnectionBeyondMaxConIsClosedAtOnce) {
  startHub("AuthFlag=0\r\nMaxCon=2\r\n");
  auto first = loggedIn();
  auto second = loggedIn();
  auto third = connect();
  ReceivedRecord record;
  std::string err;
  EXPECT_EQ(third->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed);
  EXPECT_TRUE(waitForLog(" [WARNING] PORT COUNT EXCEEDS THE LIMIT!!\r\n"));

  first->shutdown();
  ASSERT_TRUE(waitUntil([&] { return lastConnectionCount() == 1; }, kLimit));
  auto replacement = loggedIn();  // the freed slot takes a new client
  EXPECT_TRUE(waitUntil([&] { return lastConnectionCount() == 2; }, kLimit));
}

/// How often `line` (a whole log line's text) occurs in `log`.
int countLines(const std::string& log, const std::string& line) {
  int count = 0;
  for (auto at = log.find(line + "\r\n"); at != std::string::npos;
       at = log.find(line + "\r\n", at + 1)) {
    ++count;
  }
  return count;
}

/// The sum of N over the "N similar lines left out" lines of `log`.
long leftOutInLog(const std::string& log) {
  const std::string tail = " similar lines left out\r\n";
  long sum = 0;
  for (auto at = log.find(tail); at != std::string::npos; at = log.find(tail, at + 1)) {
    const auto start = log.rfind(' ', at - 1) + 1;
    sum += std::atol(log.c_str() + start);
  }
  return sum;
}

// Someone connecting again and again to a full hub must not fill its log: the refusal is
// written at most once a second, and the lines left out are counted.
TEST_F(HubConnectionTest, FullHubLogsRefusalsOncePerSecondWithACountOfTheRest) {
  startHub("AuthFlag=0\r\nMaxCon=1\r\n");
  auto occupant = loggedIn();
  const std::string refusal = " [WARNING] PORT COUNT EXCEEDS THE LIMIT!!";
  constexpr int kRefused = 300;
  const auto begin = std::chrono::steady_clock::now();
  std::string err;
  for (int i = 0; i < kRefused; ++i) {
    auto client = connect();
    ReceivedRecord record;
    ASSERT_EQ(client->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed) << i;
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin);
  // One more after a pause is written, with the count of those left out before it.
  std::this_thread::sleep_for(1500ms);
  auto last = connect();
  ReceivedRecord record;
  ASSERT_EQ(last->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed);

  ASSERT_TRUE(waitUntil(
      [&] {
        const std::string text = log();
        return countLines(text, refusal) + leftOutInLog(text) == kRefused + 1;
      },
      kLimit))
      << "every refusal is written or counted";
  const int written = countLines(log(), refusal);
  EXPECT_GE(written, 2);
  EXPECT_LE(written, seconds.count() + 3) << "at most one line a second";
}

// A deny-all rule means all: IPv6 clients are filtered like IPv4 ones.
TEST_F(HubConnectionTest, DenyAllFilterRefusesAnIpv6LoopbackClient) {
  if (!ipv6LoopbackWorks()) {
    GTEST_SKIP() << "this machine has no IPv6 loopback address";
  }
  testing::writeFile(dir_.ini("0001_hosts.ini"),
                     "[deny-all]\r\nIPADDRESS=0.0.0.0\r\nMASK=0.0.0.0\r\nALLOW=FALSE\r\n");
  startHub("AuthFlag=0\r\n");
  auto client = connect("::1");
  std::string err;
  EXPECT_EQ(client->login(true, std::nullopt, kLimit, &err), LoginResult::kFailed) << "closed";
  EXPECT_TRUE(waitForLog(" ::1:"));
  EXPECT_TRUE(waitForLog(" [WARNING] CONNECTION REJECTED by filter[deny-all]\r\n"));
}

TEST_F(HubConnectionTest, ClientThatNeverReadsLosesBatchesWhileOthersKeepReceiving) {
  startHub("AuthFlag=0\r\n");
  auto sender = loggedIn();
  auto reader = loggedIn();
  auto stalled = loggedIn();  // logs in, then reads nothing more

  // Far more than the stalled client's socket buffers and the hub's 4 MiB limit together.
  constexpr int kFrames = 400;
  const Bytes big = frame(kBroadcast, kStationA, 60000);
  std::atomic<int> received{0};
  std::thread readerThread([&] {
    while (received < kFrames && nextFrame(*reader, kLimit)) {
      ++received;
    }
  });
  // The sender waits for the reader now and then, as a reader that keeps up is what is meant.
  constexpr int kRound = 20;
  std::string err;
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_TRUE(sender->sendFrame(big, 1, &err)) << err;
    if ((i + 1) % kRound == 0) {
      ASSERT_TRUE(waitUntil([&] { return received >= i + 1; }, kLimit)) << i;
    }
  }
  readerThread.join();
  EXPECT_EQ(received, kFrames) << "the reading client got every frame";
  EXPECT_TRUE(waitForLog("SOCKETPORT::SendData SendPending TOO MUCH\r\n"));
}

/// Threads of process `pid` now, from /proc; -1 when it cannot be read.
int threadsOf(int pid) {
  const std::string status = testing::readFile("/proc/" + std::to_string(pid) + "/status");
  const auto at = status.find("Threads:");
  return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 8);
}

TEST_F(HubConnectionTest, EachLoggedInClientCostsTheHubOneThread) {
  startHub("AuthFlag=0\r\n");
  auto first = loggedIn();  // the name lookup threads are made by now
  const int before = threadsOf(hub_->pid());
  constexpr int kClients = 24;
  std::vector<std::unique_ptr<HubClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(loggedIn());
  }
  const int after = threadsOf(hub_->pid());
  ASSERT_GT(before, 0);
  // Its port thread, and at most the name lookup threads not made for the first client yet.
  EXPECT_LE(after - before, kClients + 8) << "one writer thread per client?";
}

TEST_F(HubConnectionTest, ClientSendingRandomBytesEndsOnlyItsOwnConnection) {
  startHub("AuthFlag=0\r\n");
  auto first = loggedIn();
  auto second = loggedIn();
  auto noisy = connect();
  std::mt19937 random(7);
  Bytes noise(70000);
  for (auto& byte : noise) {
    byte = static_cast<std::uint8_t>(random());
  }
  noise[0] = 0x00;  // whatever follows, the first header is not a record
  std::string err;
  (void)noisy->sendRaw(noise, &err);
  ReceivedRecord record;
  EXPECT_EQ(noisy->receiveRecord(&record, kLimit, &err), ReceiveResult::kClosed);

  const Bytes broadcast = frame(kBroadcast, kStationA);
  ASSERT_TRUE(first->sendFrame(broadcast, 1, &err)) << err;
  EXPECT_EQ(nextFrame(*second, kLimit), broadcast);
  EXPECT_TRUE(waitUntil([&] { return lastConnectionCount() == 2; }, kLimit));
}

TEST_F(HubConnectionTest, ClientsEndedMidStreamLeaveNoConnectionBehind) {
  startHub("AuthFlag=0\r\nMaxCon=3\r\n");
  std::vector<std::unique_ptr<HubClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(loggedIn());
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    senders.emplace_back([&, i] {
      const Bytes broadcast =
          frame(kBroadcast, {0x40, 0, 0, 0, 1, static_cast<std::uint8_t>(i)}, 1400);
      std::string err;
      for (int sent = 0; sent < 20000 && !stop; ++sent) {
        if (!clients[i]->sendFrame(broadcast, 1, &err)) {
          return;
        }
      }
    });
  }
  std::this_thread::sleep_for(200ms);
  for (auto& client : clients) {
    client->shutdown();  // mid-stream, with frames on their way in both directions
  }
  stop = true;
  for (auto& thread : senders) {
    thread.join();
  }
  EXPECT_TRUE(waitUntil([&] { return lastConnectionCount() == 0; }, kLimit));

  std::vector<std::unique_ptr<HubClient>> fresh;
  for (int i = 0; i < 3; ++i) {
    fresh.push_back(loggedIn());  // every slot was freed
  }
  std::string err;
  const Bytes unicast = frame({0x40, 0, 0, 0, 1, 0}, kStationB);
  ASSERT_TRUE(fresh[0]->sendFrame(unicast, 1, &err)) << err;
  const Bytes broadcast = frame(kBroadcast, kStationB);
  ASSERT_TRUE(fresh[0]->sendFrame(broadcast, 1, &err)) << err;
  EXPECT_EQ(nextFrame(*fresh[1], kLimit), broadcast)
      << "the unicast to a station of an ended client went nowhere";
}

TEST_F(HubConnectionTest, PortTakenByAnotherProgramLeavesTheHubRunningWithoutAccepting) {
  testing::LoopbackServer other("127.0.0.1");
  ASSERT_TRUE(other.started()) << other.error();
  startHub("AuthFlag=0\r\n", {}, other.port());
  std::this_thread::sleep_for(200ms);  // the hub has probed its port by now

  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", port_, &err)) << err;
  EXPECT_TRUE(other.accept(kLimit).has_value()) << "the connection went to the other program";
  if (ipv6LoopbackWorks()) {
    HubClient viaIpv6;
    EXPECT_FALSE(viaIpv6.connect("::1", port_, &err)) << "the hub listens on no address at all";
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(log().find(" + CONNECTED"), std::string::npos);
}

}  // namespace
}  // namespace korvane::hub
