#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpConnection.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackServer.h"

namespace korvane::platform {
namespace {

using korvane::testing::LoopbackServer;
using korvane::testing::RawSocket;
using namespace std::chrono_literals;

constexpr auto kWait = 5000ms;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

/// A client connection to `server` and the server's end of it.
struct Pair {
  TcpConnection client;
  std::optional<RawSocket> server;
};

std::optional<Pair> connectPair(LoopbackServer& server, const std::string& host) {
  std::string err;
  auto client = TcpConnection::connect(host, server.port(), &err);
  EXPECT_TRUE(client.has_value()) << err;
  if (!client) {
    return std::nullopt;
  }
  auto accepted = server.accept(kWait);
  EXPECT_TRUE(accepted.has_value());
  if (!accepted) {
    return std::nullopt;
  }
  return Pair{std::move(*client), std::move(accepted)};
}

TEST(TcpConnection, ExchangesBytesOverIpv4Loopback) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  const auto hello = bytesOf("hello hub");
  ASSERT_TRUE(pair->client.sendAll(hello));
  EXPECT_EQ(pair->server->readExactly(hello.size(), kWait), hello);

  const auto answer = bytesOf("hello client");
  ASSERT_TRUE(pair->server->writeAll(answer));
  std::vector<std::uint8_t> received;
  std::array<std::uint8_t, 64> buffer{};
  while (received.size() < answer.size()) {
    const long got = pair->client.receive(buffer);
    ASSERT_GT(got, 0) << pair->client.lastError();
    received.insert(received.end(), buffer.begin(), buffer.begin() + got);
  }
  EXPECT_EQ(received, answer);
}

TEST(TcpConnection, ConnectsByHostName) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "localhost");
  ASSERT_TRUE(pair);
  EXPECT_TRUE(pair->client.isOpen());
}

TEST(TcpConnection, ConnectFailuresNameTheCause) {
  const int closedPort = korvane::testing::freeTcpPort();
  ASSERT_NE(closedPort, 0);
  struct Row {
    std::string host;
    std::string expectedStart;
  };
  const std::vector<Row> rows = {
      // nothing listens on the port
      {"127.0.0.1", "connect 127.0.0.1:" + std::to_string(closedPort) + ": Connection refused"},
      // the name does not resolve (.invalid never does)
      {"no-such-host.invalid", "getaddrinfo no-such-host.invalid: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.host);
    std::string err;
    EXPECT_FALSE(TcpConnection::connect(row.host, closedPort, &err).has_value());
    EXPECT_EQ(err.substr(0, row.expectedStart.size()), row.expectedStart) << err;
  }
}

// A listener that never accepts and has a queue of one: once the queue is full the kernel drops
// further handshakes, as a router that filters them would, and only the caller's limit ends
// the connect.
TEST(TcpConnection, ConnectGivesUpAtItsLimitWhenTheHandshakeIsDropped) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);

  std::vector<TcpConnection> queued;
  std::string err;
  constexpr int kMostQueued = 8;
  for (int i = 0; i < kMostQueued; ++i) {
    auto connection = TcpConnection::connect("127.0.0.1", port, &err, 300ms);
    if (!connection) {
      break;
    }
    queued.push_back(std::move(*connection));
  }
  ::close(listener);
  EXPECT_LT(queued.size(), static_cast<std::size_t>(kMostQueued)) << "no handshake was dropped";
  EXPECT_NE(err.find("Connection timed out"), std::string::npos) << err;
}

TEST(TcpConnection, ReceiveReturnsZeroWhenPeerCloses) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  pair->server->close();
  std::array<std::uint8_t, 16> buffer{};
  EXPECT_EQ(pair->client.receive(buffer), 0);
  EXPECT_FALSE(pair->client.lastErrorWasAbort());
}

TEST(TcpConnection, ReceiveFailsWhenPeerResets) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  pair->server->closeWithReset();
  std::array<std::uint8_t, 16> buffer{};
  EXPECT_EQ(pair->client.receive(buffer), -1);
  EXPECT_EQ(pair->client.lastError(), "recv: Connection reset by peer");
  EXPECT_FALSE(pair->client.lastErrorWasAbort());
}

TEST(TcpConnection, ShutdownFromAnotherThreadWakesBlockedReceive) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  std::atomic<bool> receiving{false};
  std::atomic<long> result{1};
  std::thread receiver([&] {
    std::array<std::uint8_t, 16> buffer{};
    receiving = true;
    result = pair->client.receive(buffer);
  });
  while (!receiving) {
    std::this_thread::yield();
  }
  // Give the receiver time to block inside the kernel; the outcome is the same if it has not.
  std::this_thread::sleep_for(50ms);
  pair->client.shutdownBoth();
  receiver.join();

  EXPECT_EQ(result.load(), 0);
  EXPECT_TRUE(pair->client.lastErrorWasAbort());
  EXPECT_TRUE(pair->client.isOpen());  // still allocated until its owner closes it
  EXPECT_TRUE(pair->server->waitForClose(kWait));
  pair->client.close();
  EXPECT_FALSE(pair->client.isOpen());
}

TEST(TcpConnection, SendAfterPeerResetFailsWithoutSignal) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);
  pair->server->closeWithReset();

  // The first send may still be taken by the kernel before the reset is seen; a later one fails
  // and must not raise SIGPIPE, which would end this test program.
  const std::vector<std::uint8_t> chunk(4096, 0x5A);
  bool failed = false;
  for (int attempt = 0; attempt < 100 && !failed; ++attempt) {
    failed = !pair->client.sendAll(chunk);
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(pair->client.lastError().substr(0, 6), "send: ");

  const std::span<const std::uint8_t> part(chunk);
  std::string err;
  EXPECT_EQ(pair->client.trySend(std::span(&part, 1), &err), -1);
  EXPECT_EQ(err.substr(0, 9), "sendmsg: ");

  // The hub logs the number of the failed call; after a reset that is a reset or a broken pipe.
  SystemError error;
  EXPECT_EQ(pair->client.trySend(std::span(&part, 1), &error), -1);
  EXPECT_EQ(error.call, "sendmsg");
  EXPECT_TRUE(error.code == EPIPE || error.code == ECONNRESET) << error.code;
}

TEST(TcpConnection, TrySendGathersPartsInOrder) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  const auto first = bytesOf("abc");
  const auto second = bytesOf("defg");
  const std::vector<std::span<const std::uint8_t>> parts = {first, {}, second};
  EXPECT_EQ(pair->client.trySend(parts), 7);
  EXPECT_EQ(pair->server->readExactly(7, kWait), bytesOf("abcdefg"));
  EXPECT_EQ(pair->client.trySend({}), 0);
}

TEST(TcpConnection, TrySendReturnsZeroWhenPeerDoesNotRead) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  const std::vector<std::uint8_t> chunk(65536, 0x42);
  const std::span<const std::uint8_t> part(chunk);
  // The socket buffers of both ends fill within a few megabytes; the bound only stops a broken
  // trySend() that blocks or never reports a full buffer.
  constexpr long kBound = 256L << 20;
  long total = 0;
  long sent = 1;
  while (sent > 0 && total < kBound) {
    sent = pair->client.trySend(std::span(&part, 1));
    total += std::max(sent, 0L);
  }
  EXPECT_EQ(sent, 0);
  EXPECT_GT(total, 0);
  EXPECT_FALSE(pair->client.waitWritable(20ms));

  // Once the peer reads, the socket takes bytes again.
  std::thread reader([&] { EXPECT_TRUE(pair->server->readExactly(total, 30000ms).has_value()); });
  EXPECT_TRUE(pair->client.waitWritable(kWait));
  reader.join();
}

TEST(TcpConnection, WaitReadableSeesBytesAndClose) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  EXPECT_FALSE(pair->client.waitReadable(20ms));
  ASSERT_TRUE(pair->server->writeAll(bytesOf("x")));
  EXPECT_TRUE(pair->client.waitReadable(kWait));
  std::array<std::uint8_t, 4> buffer{};
  EXPECT_EQ(pair->client.receive(buffer), 1);
  pair->server->close();
  EXPECT_TRUE(pair->client.waitReadable(kWait));
  EXPECT_EQ(pair->client.receive(buffer), 0);
}

TEST(TcpConnection, PeerAddressOfIpv4Peer) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  const PeerAddress peer = pair->client.peerAddress();
  EXPECT_EQ(peer.numericHost, "127.0.0.1");
  EXPECT_EQ(peer.port, server.port());
  EXPECT_TRUE(peer.isIpv4);
  EXPECT_EQ(peer.ipv4, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
}

TEST(TcpConnection, Ipv6LoopbackPeer) {
  LoopbackServer server("::1");
  if (!server.started()) {
    GTEST_SKIP() << "no IPv6 loopback on this machine: " << server.error();
  }
  auto pair = connectPair(server, "::1");
  ASSERT_TRUE(pair);

  const PeerAddress peer = pair->client.peerAddress();
  EXPECT_EQ(peer.numericHost, "::1");
  EXPECT_EQ(peer.port, server.port());
  EXPECT_FALSE(peer.isIpv4);
  EXPECT_EQ(peer.ipv4, (std::array<std::uint8_t, 4>{}));

  const auto data = bytesOf("over six");
  ASSERT_TRUE(pair->client.sendAll(data));
  EXPECT_EQ(pair->server->readExactly(data.size(), kWait), data);
}

TEST(TcpConnection, Ipv4MappedPeerCountsAsIpv4) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  // "::ffff:127.0.0.1" makes an IPv6 socket whose peer is an IPv4 address, as a dual-stack
  // listener sees its IPv4 clients.
  std::string err;
  auto client = TcpConnection::connect("::ffff:127.0.0.1", server.port(), &err);
  if (!client) {
    GTEST_SKIP() << "no IPv6 sockets on this machine: " << err;
  }
  const PeerAddress peer = client->peerAddress();
  EXPECT_EQ(peer.numericHost, "127.0.0.1");
  EXPECT_TRUE(peer.isIpv4);
  EXPECT_EQ(peer.ipv4, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
  EXPECT_EQ(client->lookUpPeerName(),
            TcpConnection::connect("127.0.0.1", server.port(), &err)->lookUpPeerName());
}

TEST(TcpConnection, LookUpPeerNameFallsBackToNumericAddress) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  // 127.0.0.1 has a name on nearly every machine ("localhost"); either way the answer is a
  // name or the numeric address, never empty.
  const std::string name = pair->client.lookUpPeerName();
  EXPECT_FALSE(name.empty());

  TcpConnection closed;
  EXPECT_EQ(closed.lookUpPeerName(), "");
  EXPECT_EQ(closed.peerAddress().numericHost, "");
}

TEST(TcpConnection, MoveKeepsTheConnection) {
  LoopbackServer server;
  ASSERT_TRUE(server.started()) << server.error();
  auto pair = connectPair(server, "127.0.0.1");
  ASSERT_TRUE(pair);

  TcpConnection moved(std::move(pair->client));
  EXPECT_FALSE(pair->client.isOpen());
  ASSERT_TRUE(moved.isOpen());
  const auto data = bytesOf("moved");
  ASSERT_TRUE(moved.sendAll(data));
  EXPECT_EQ(pair->server->readExactly(data.size(), kWait), data);

  TcpConnection assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(moved.isOpen());
  assigned = TcpConnection();  // closes the connection
  EXPECT_TRUE(pair->server->waitForClose(kWait));
}

}  // namespace
}  // namespace korvane::platform
