// Process-level tests of the hub's control pipe against a running kvhub: the panel's queries, the
// reload commands and the notifications of status windows.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include "panel/logic/HubQueryClient.h"
#include "panel/logic/NotificationServer.h"
#include "platform/LocalPipe.h"
#include "tests/hub/RunningHub.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackServer.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using common::HubCommand;
using common::ReceivedRecord;
using common::ReceiveResult;
using testing::waitUntil;

// True while the hub keeps `client`'s connection: a keep-alive is still echoed.
bool stillConnected(common::HubClient& client) {
  std::string err;
  if (!client.sendKeepAlive(&err)) {
    return false;
  }
  ReceivedRecord record;
  return client.receiveRecord(&record, 5s, &err) == ReceiveResult::kRecord;
}

bool cutByHub(common::HubClient& client) {
  ReceivedRecord record;
  std::string err;
  for (;;) {
    const auto result = client.receiveRecord(&record, 5s, &err);
    if (result != ReceiveResult::kRecord) {
      return result == ReceiveResult::kClosed || result == ReceiveResult::kFailed;
    }
  }
}

class ControlPipeTest : public ::testing::Test {
 protected:
  testing::TempProgramDir dir_;
  RunningHub hub_{dir_};
  panel::HubQueryClient query_;
};

TEST_F(ControlPipeTest, EmptyHubAnswersAnEmptyListAndIgnoresWindowZero) {
  hub_.start("AuthFlag=0\r\n");
  const auto entries = query_.queryConnections(1, 4711);
  ASSERT_TRUE(entries);
  EXPECT_TRUE(entries->empty());

  // Window handle 0: the hub only disconnects, no reply at all.
  std::string err;
  auto pipe = platform::openPipe(common::hubPipeName(1), &err);
  ASSERT_TRUE(pipe) << err;
  const auto request = common::encodeControlHeader(
      {common::kControlMagic, 0, static_cast<std::uint32_t>(HubCommand::kPortList), 0});
  ASSERT_TRUE(pipe->writeAll(request));
  std::array<std::uint8_t, 16> reply{};
  EXPECT_EQ(pipe->readFully(reply, 5s), 0u);
}

TEST_F(ControlPipeTest, ListenStateSaysWhetherTheHubHasItsPort) {
  hub_.start("AuthFlag=0\r\n");
  EXPECT_TRUE(waitUntil([&] { return query_.queryState(1) == 1; }, 10s));
}

TEST_F(ControlPipeTest, ListenStateIsMinusOneWhenAnotherProgramHeldThePort) {
  testing::LoopbackServer other("127.0.0.1");
  ASSERT_TRUE(other.started()) << other.error();
  hub_.start("AuthFlag=0\r\n", {}, other.port());
  EXPECT_TRUE(waitUntil([&] { return query_.queryState(1) == -1; }, 10s));
}

TEST_F(ControlPipeTest, ConnectionListShowsTheLoggedInAccount) {
  hub_.start("AuthFlag=1\r\n", {{"alice#sales", "secret"}});
  auto client = hub_.loggedIn(common::Credentials{"alice#sales", "secret"});
  ASSERT_TRUE(hub_.waitForLog(" * LOGIN AUTH OK : alice#sales"));

  const auto entries = query_.queryConnections(1, 4711);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  const auto& entry = (*entries)[0];
  EXPECT_EQ(entry.state, 2);
  EXPECT_EQ(entry.account, "alice#sales");
  EXPECT_EQ(entry.guest, 0);
  EXPECT_NE(entry.logName.find("127.0.0.1:"), std::string::npos) << entry.logName;
}

TEST_F(ControlPipeTest, CommandFiveCutsALockedAccountAndCommandTwoDoesNot) {
  hub_.start("AuthFlag=1\r\n", {{"alice", "secret"}, {"bob", "other"}});
  auto alice = hub_.loggedIn(common::Credentials{"alice", "secret"});
  auto bob = hub_.loggedIn(common::Credentials{"bob", "other"});
  testing::writeFile(dir_.ini("0001_account.ini"),
                     accountFileText({{"alice", "secret", 1}, {"bob", "other"}}));

  ASSERT_TRUE(hub_.sendCommand(HubCommand::kReloadAccounts));
  EXPECT_TRUE(stillConnected(*alice)) << "command 2 keeps the connections";

  ASSERT_TRUE(hub_.sendCommand(HubCommand::kReloadAccountsRecheck));
  EXPECT_TRUE(cutByHub(*alice)) << "command 5 cuts the locked account";
  EXPECT_TRUE(stillConnected(*bob));
}

TEST_F(ControlPipeTest, CommandEightCutsClientsTheNewFilterRefuses) {
  hub_.start("AuthFlag=0\r\n");
  auto client = hub_.loggedIn();
  testing::writeFile(dir_.ini("0001_hosts.ini"),
                     "[loopback]\r\nIPADDRESS=127.0.0.0\r\nMASK=255.0.0.0\r\nALLOW=FALSE\r\n");

  ASSERT_TRUE(hub_.sendCommand(HubCommand::kReloadFilter));
  EXPECT_TRUE(stillConnected(*client)) << "command 7 only reloads";
  ASSERT_TRUE(hub_.sendCommand(HubCommand::kReloadFilterRecheck));
  EXPECT_TRUE(cutByHub(*client));

  // A new connection from there is refused at admission.
  auto refused = hub_.connect();
  EXPECT_TRUE(cutByHub(*refused));
  EXPECT_TRUE(hub_.waitForLog(" [WARNING] CONNECTION REJECTED by filter["));
}

TEST_F(ControlPipeTest, EveryStatusWindowGetsEverySignalUntilItCloses) {
  hub_.start("AuthFlag=0\r\n");
  std::atomic<int> first{0};
  std::atomic<int> second{0};
  panel::NotificationServer firstWindow(501, [&] { ++first; });
  auto secondWindow = std::make_unique<panel::NotificationServer>(502, [&] { ++second; });
  firstWindow.start();
  secondWindow->start();
  ASSERT_TRUE(query_.queryConnections(1, 501));
  ASSERT_TRUE(query_.queryConnections(1, 502));
  ASSERT_TRUE(query_.queryConnections(1, 502)) << "asking twice registers once";

  auto client = hub_.loggedIn();
  EXPECT_TRUE(waitUntil([&] { return first >= 2 && second >= 2; }, 5s))
      << "admitted and logged in: " << first << " and " << second;
  const int secondBefore = second;
  EXPECT_EQ(first.load(), second.load()) << "a window registered twice is signalled once";

  secondWindow.reset();  // the window closes
  client->shutdown();
  EXPECT_TRUE(waitUntil([&] { return first >= secondBefore + 1; }, 5s));
  auto another = hub_.loggedIn();
  EXPECT_TRUE(waitUntil([&] { return first >= secondBefore + 3; }, 5s))
      << "the remaining window keeps getting signals";
}

TEST_F(ControlPipeTest, KvctlShowsConnectionsAndWatchesThem) {
  hub_.start("AuthFlag=1\r\n", {{"alice#sales", "secret"}});
  testing::writeFile(dir_.ini("Tollmar.ini"),
                     testing::readFile(dir_.ini("Tollmar.ini")) + "Status=ON\r\nHubName=A\r\n");
  const std::string watchOutput = dir_.path() + "watch.txt";
  testing::ChildProcess watch(testing::builtProgram("kvctl"), {"watch", "1"}, dir_.path(),
                              watchOutput);
  ASSERT_TRUE(waitUntil(
      [&] { return testing::readFile(watchOutput).find("NAME | ACCOUNT") != std::string::npos; },
      10s));

  auto client = hub_.loggedIn(common::Credentials{"alice#sales", "secret"});
  const auto loggedInAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitUntil(
      [&] {
        return testing::readFile(watchOutput).find(" | alice#sales | sales | ") !=
               std::string::npos;
      },
      5s))
      << testing::readFile(watchOutput);
  EXPECT_LT(std::chrono::steady_clock::now() - loggedInAt, 1500ms);

  std::string err;
  std::vector<std::uint8_t> frame(1500, 0x11);
  frame[6] = 0x40;
  for (int i = 0; i < 10; ++i) {  // 10 records of 32 + 1500 bytes: 14 whole kilobytes
    ASSERT_TRUE(client->sendFrame(frame, 1, &err)) << err;
  }
  const auto result = [&] {
    testing::ChildProcess connections(testing::builtProgram("kvctl"), {"connections", "1"},
                                      dir_.path(), dir_.path() + "connections.txt");
    connections.waitForExit(10s);
    return testing::readFile(dir_.path() + "connections.txt");
  };
  EXPECT_TRUE(waitUntil([&] { return result().find(" | alice#sales | sales | 14 | 0 | ") !=
                                     std::string::npos; },
                        5s))
      << result();
  ::kill(watch.pid(), SIGTERM);
  EXPECT_EQ(watch.waitForExit(5s), 0);
}

}  // namespace
}  // namespace korvane::hub
