// Tests of the TCP listener: listening on every address, waking a waiting accept from another
// thread, and failures of accept that must not end it.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpListener.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackServer.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

bool ipv6LoopbackWorks() {
  return testing::LoopbackServer("::1").started();
}

std::uint16_t freePort() {
  return static_cast<std::uint16_t>(testing::freeTcpPort());
}

std::optional<TcpConnection> acceptOne(TcpListener& listener) {
  std::optional<TcpConnection> connection;
  ListenFailure failure;
  EXPECT_EQ(listener.accept(&connection, &failure), AcceptStatus::kAccepted)
      << "call " << static_cast<int>(failure.call) << " error " << failure.error;
  return connection;
}

TEST(TcpListener, ListensOnIpv4AndIpv6OfOnePort) {
  TcpListener listener;
  std::vector<ListenFailure> failures;
  bool tooMany = true;
  const std::uint16_t port = freePort();
  ASSERT_GE(listener.listenOnAllAddresses(port, &failures, &tooMany), 1u);
  EXPECT_FALSE(tooMany);
  EXPECT_TRUE(failures.empty()) << "IPv4 and IPv6 sockets bind the same port side by side";
  EXPECT_EQ(listener.localPort(), port);

  std::string err;
  auto viaIpv4 = TcpConnection::connect("127.0.0.1", port, &err);
  ASSERT_TRUE(viaIpv4) << err;
  auto accepted = acceptOne(listener);
  ASSERT_TRUE(accepted);
  EXPECT_TRUE(accepted->peerAddress().isIpv4);
  EXPECT_EQ(accepted->peerAddress().numericHost, "127.0.0.1");

  if (!ipv6LoopbackWorks()) {
    GTEST_SKIP() << "no IPv6 loopback address on this machine";
  }
  EXPECT_EQ(listener.socketCount(), 2u);
  auto viaIpv6 = TcpConnection::connect("::1", port, &err);
  ASSERT_TRUE(viaIpv6) << err;
  auto acceptedIpv6 = acceptOne(listener);
  ASSERT_TRUE(acceptedIpv6);
  EXPECT_FALSE(acceptedIpv6->peerAddress().isIpv4);
  EXPECT_EQ(acceptedIpv6->peerAddress().numericHost, "::1");
}

TEST(TcpListener, CloseFromAnotherThreadWakesAWaitingAccept) {
  TcpListener listener;
  std::vector<ListenFailure> failures;
  bool tooMany = false;
  ASSERT_GE(listener.listenOnAllAddresses(freePort(), &failures, &tooMany), 1u);
  auto waiting = std::async(std::launch::async, [&] {
    std::optional<TcpConnection> connection;
    ListenFailure failure;
    return listener.accept(&connection, &failure);
  });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  listener.close();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), AcceptStatus::kClosed);

  std::optional<TcpConnection> connection;
  ListenFailure failure;
  EXPECT_EQ(listener.accept(&connection, &failure), AcceptStatus::kClosed) << "closed for good";
  EXPECT_EQ(listener.socketCount(), 0u);
  EXPECT_FALSE(listener.listenOnIpv4(freePort(), &failure)) << "a closed listener opens nothing";
}

TEST(TcpListener, RunningOutOfDescriptorsDoesNotEndIt) {
  TcpListener listener;
  ListenFailure failure;
  ASSERT_TRUE(listener.listenOnIpv4(freePort(), &failure));
  std::string err;
  auto client = TcpConnection::connect("127.0.0.1", listener.localPort(), &err);
  ASSERT_TRUE(client) << err;

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = 3;  // only standard input, output and error: no new descriptor fits
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::optional<TcpConnection> connection;
  const AcceptStatus status = listener.accept(&connection, &failure);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

  EXPECT_EQ(status, AcceptStatus::kRetry);
  EXPECT_EQ(failure.call, ListenCall::kAccept);
  EXPECT_EQ(failure.error, EMFILE);
  EXPECT_TRUE(acceptOne(listener)) << "the waiting client is taken once descriptors are free";
}

TEST(TcpListener, BurstOfClientsIsQueuedWhileNobodyAccepts) {
  // What a hub sees after a restart: its clients reconnect all at once, faster than it accepts.
  // Fewer than its 512 here, to stay within the test process's descriptors.
  constexpr int kBurst = 200;
  TcpListener listener;
  std::vector<ListenFailure> failures;
  bool tooMany = false;
  const std::uint16_t port = freePort();
  ASSERT_GT(listener.listenOnAllAddresses(port, &failures, &tooMany), 0u);
  std::vector<TcpConnection> clients;
  for (int i = 0; i < kBurst; ++i) {
    std::string err;
    auto client = TcpConnection::connect("127.0.0.1", port, &err, 2s);
    ASSERT_TRUE(client) << "client " << i << " was turned away: " << err;
    clients.push_back(std::move(*client));
  }
  EXPECT_TRUE(acceptOne(listener));
}

TEST(TcpListener, PortThatIsTakenCannotBeBound) {
  TcpListener first;
  ListenFailure failure;
  const std::uint16_t port = freePort();
  ASSERT_TRUE(first.listenOnIpv4(port, &failure));

  TcpListener second;
  EXPECT_FALSE(second.listenOnIpv4(port, &failure));
  EXPECT_EQ(failure.call, ListenCall::kBind);
  EXPECT_EQ(failure.error, EADDRINUSE);

  std::vector<ListenFailure> failures;
  bool tooMany = false;
  const std::size_t listening = second.listenOnAllAddresses(port, &failures, &tooMany);
  EXPECT_LT(listening, 2u) << "at least the IPv4 address is taken";
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures[0].call, ListenCall::kBind);
}

}  // namespace
}  // namespace korvane::platform
