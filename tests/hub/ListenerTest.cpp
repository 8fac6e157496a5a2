// In-process tests of the listener: a connection for which no thread can be made is refused
// cleanly, leaving its slot free and the log balanced.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/HubClient.h"
#include "hub/Listener.h"
#include "hub/PortManager.h"
#include "tests/hub/SwitchTestBed.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 10s;

std::unique_ptr<common::HubClient> connectTo(int port) {
  std::unique_ptr<common::HubClient> client;
  const bool connected = testing::waitUntil(
      [&] {
        client = std::make_unique<common::HubClient>();
        std::string err;
        return client->connect("127.0.0.1", port, &err);
      },
      kLimit);
  EXPECT_TRUE(connected);
  return client;
}

TEST(Listener, ConnectionWithoutAThreadIsRefusedAndItsSlotFreedAtOnce) {
  HubTestBed bed;
  // One slot: a slot the refused connection kept would turn the next client away.
  auto portManager = std::make_shared<PortManager>(bed.logger, bed.clock, 1);
  bed.connections.portManager = portManager;
  std::atomic<bool> threadsFail{true};
  std::atomic<ListenState> state{ListenState::kUndecided};
  const int port = testing::freeTcpPort();
  Listener listener(static_cast<std::uint16_t>(port), state, bed.connections,
                    [&](std::function<void()> body) {
                      return !threadsFail && startDetachedThread(std::move(body));
                    });
  listener.start();

  auto refused = connectTo(port);
  common::ReceivedRecord record;
  std::string err;
  EXPECT_EQ(refused->receiveRecord(&record, kLimit, &err), common::ReceiveResult::kClosed) << err;
  EXPECT_EQ(bed.linesEndingWith(" [WARNING] CONNECTION REFUSED: no thread could be made for it"),
            1);
  EXPECT_EQ(portManager->connectionCount(), 0);

  threadsFail = false;
  auto served = connectTo(port);
  EXPECT_EQ(served->login(true, std::nullopt, kLimit, &err), common::LoginResult::kAccepted) << err;
  served->shutdown();
  listener.stop();
  ASSERT_TRUE(listener.waitForConnectionThreads(kLimit));
  EXPECT_EQ(portManager->connectionCount(), 0);
  EXPECT_EQ(bed.linesEndingWith(" + CONNECTED"), 1) << bed.log();
  EXPECT_EQ(bed.linesEndingWith(" - DISCONNECTED"), 1) << bed.log();
}

}  // namespace
}  // namespace korvane::hub
