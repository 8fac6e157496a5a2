// Tests of the hub's control pipe: against a running kvhub, the panel's queries, the reload
// commands and the notifications of status windows; in-process, a hub with hundreds of
// connections whose list a client asks for and never reads.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/NotifyPipe.h"
#include "hub/ControlPipe.h"
#include "hub/PortManager.h"
#include "panel/logic/HubQueryClient.h"
#include "panel/logic/NotificationServer.h"
#include "platform/LocalPipe.h"
#include "tests/hub/RunningHub.h"
#include "tests/hub/SwitchTestBed.h"
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

TEST(ControlPipe, ClientThatNeverReadsItsConnectionListDoesNotKeepTheStopUnheard) {
  // Enough connections that their list does not fit into the pipe's socket buffer, which takes a
  // little more than wmem_default bytes of data before a write has to wait for the reader.
  const std::size_t socketBuffer =
      std::strtoul(testing::readFile("/proc/sys/net/core/wmem_default").c_str(), nullptr, 10);
  const std::size_t needed = socketBuffer * 9 / 8 / common::kPortListRecordSize + 1;
  if (socketBuffer == 0 || needed > static_cast<std::size_t>(common::kMaxConnectionsLimit)) {
    GTEST_SKIP() << "socket buffers of " << socketBuffer << " bytes hold a full connection list";
  }
  HubTestBed bed;
  bed.dir.useForThisProcess();
  auto portManager =
      std::make_shared<PortManager>(bed.logger, bed.clock, common::kMaxConnectionsLimit);
  std::vector<TestPort> ports;
  for (std::size_t i = 0; i < needed; ++i) {
    ports.push_back(makeTestPort(bed, "192.0.2.1", 40000 + static_cast<int>(i)));
    ports.back().port->admit();
    portManager->addPort(ports.back().port);
  }
  const std::atomic<ListenState> listenState{ListenState::kListening};
  ControlPipe pipe({.hubNumber = 1,
                    .clock = bed.clock,
                    .log = bed.logger,
                    .shutdown = *bed.shutdown,
                    .panels = *bed.panels,
                    .listenState = listenState,
                    .accounts = nullptr,
                    .filter = nullptr,
                    .portManager = portManager,
                    .dhcp = nullptr});
  std::atomic<bool> ended{false};
  std::thread server([&] {
    pipe.runControlPipe();
    ended = true;
  });
  // Declared before the clients, so that it runs after they have closed, which also ends a write
  // to the silent one that never gave up.
  struct EndServer {
    ShutdownFlag& shutdown;
    std::thread& thread;
    ~EndServer() {
      shutdown.request();
      wakeControlPipe(1);
      thread.join();
    }
  } endServer{*bed.shutdown, server};

  std::string err;
  std::optional<platform::PipeConnection> silent;
  ASSERT_TRUE(waitUntil(
      [&] { return (silent = platform::openPipe(common::hubPipeName(1), &err)).has_value(); }, 5s))
      << err;
  ASSERT_TRUE(silent->writeAll(common::encodeControlHeader(
      {common::kControlMagic, 0, static_cast<std::uint32_t>(HubCommand::kPortList), 4711})));
  auto stop = platform::openPipe(common::hubPipeName(1), &err);
  ASSERT_TRUE(stop) << err;
  const auto sentAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(stop->writeAll(common::encodeControlHeader(
      {common::kControlMagic, 0, static_cast<std::uint32_t>(HubCommand::kStop), 0})));

  // The silent client gets five seconds to take its reply; then the stop is heard.
  EXPECT_TRUE(waitUntil([&] { return ended.load(); }, 10s));
  EXPECT_LT(std::chrono::steady_clock::now() - sentAt, 8s);
  EXPECT_EQ(bed.linesEndingWith("Detect Termination Signal !"), 1);
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
  // The windows serve their pipes on threads of their own; a window whose pipe the hub cannot
  // open yet would be dropped from the list at the first signal.
  ASSERT_TRUE(waitUntil(
      [&] {
        return testing::fileExists(dir_.path() + "pipe/" + common::notifyPipeName(501)) &&
               testing::fileExists(dir_.path() + "pipe/" + common::notifyPipeName(502));
      },
      5s));
  ASSERT_TRUE(query_.queryConnections(1, 501));
  ASSERT_TRUE(query_.queryConnections(1, 502));
  ASSERT_TRUE(query_.queryConnections(1, 502)) << "asking twice registers once";

  auto client = hub_.loggedIn();
  // The hub signals the windows one after the other, so the counts may differ for a moment;
  // a window registered twice would get two signals per change and never catch up.
  EXPECT_TRUE(waitUntil([&] { return first >= 2 && first == second; }, 5s))
      << "admitted and logged in, a window registered twice signalled once: " << first
      << " and " << second;
  const int secondBefore = second;

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
