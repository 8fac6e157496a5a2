#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/HubClient.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackServer.h"

namespace korvane::common {
namespace {

using korvane::testing::LoopbackServer;
using korvane::testing::RawSocket;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kWait = 5000ms;

/// A hub stand-in: it accepts one connection on 127.0.0.1 and runs `script` on its own thread
/// with the accepted socket, checking the client's bytes and answering with plain socket calls.
class FakeHub {
 public:
  explicit FakeHub(std::function<void(RawSocket&)> script) {
    if (!server_.started()) {
      return;
    }
    thread_ = std::thread([this, script = std::move(script)] {
      auto socket = server_.accept(kWait);
      if (!socket) {
        ADD_FAILURE() << "the client did not connect";
        return;
      }
      script(*socket);
    });
  }
  ~FakeHub() { join(); }

  bool started() const { return server_.started(); }
  const std::string& error() const { return server_.error(); }
  int port() const { return server_.port(); }
  void join() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  LoopbackServer server_;
  std::thread thread_;
};

RecordHeader headerOf(const Bytes& bytes) {
  return decodeRecordHeader(std::span(bytes).first<kRecordHeaderSize>());
}

Bytes record(RecordHeader header, const Bytes& payload = {}) {
  header.payloadLength = static_cast<std::uint32_t>(payload.size());
  const auto encoded = encodeRecordHeader(header);
  Bytes bytes(encoded.begin(), encoded.end());
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

Bytes controlRecord(ControlType type, const Bytes& payload = {}, std::uint32_t option = 0) {
  RecordHeader header;
  header.type = static_cast<std::uint32_t>(type);
  header.option = option;
  return record(header, payload);
}

Bytes loginOk() {
  return controlRecord(ControlType::kLoginOk, {}, 1);
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const auto byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

/// Reads one 32-byte header from the client and checks that it is the control record `type`.
RecordHeader expectControl(RawSocket& socket, ControlType type) {
  const auto bytes = socket.readExactly(kRecordHeaderSize, kWait);
  if (!bytes) {
    ADD_FAILURE() << "no record from the client";
    return {};
  }
  const RecordHeader header = headerOf(*bytes);
  EXPECT_EQ(header.magic, kRecordMagic);
  EXPECT_EQ(header.kind, kKindControl);
  EXPECT_EQ(header.type, static_cast<std::uint32_t>(type));
  return header;
}

TEST(HubClient, LoginWithoutAuthenticationAnnouncesKeepAlives) {
  for (const bool keepAlives : {true, false}) {
    SCOPED_TRACE(keepAlives ? "keep-alives" : "no keep-alives");
    FakeHub hub([&](RawSocket& socket) {
      const RecordHeader login = expectControl(socket, ControlType::kLogin);
      EXPECT_EQ(login.payloadLength, 0u);
      EXPECT_EQ(login.plainLength, 0u);
      EXPECT_EQ(login.option, keepAlives ? 1u : 0u);
      EXPECT_TRUE(socket.writeAll(loginOk()));
    });
    ASSERT_TRUE(hub.started()) << hub.error();
    HubClient client;
    std::string err;
    ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
    EXPECT_EQ(client.login(keepAlives, std::nullopt, kWait, &err), LoginResult::kAccepted) << err;
  }
}

TEST(HubClient, AnswersChallengeWithDigestOfNameAndPassword) {
  const Bytes challenge = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  struct Row {
    const char* name;
    const char* password;
    const char* digest;  // MD5 of challenge + UTF-16LE name block + password block, from Python
  };
  const Row rows[] = {
      {"alice", "secret", "d11f40cb992033c0f76d6d9bade60946"},
      // non-ASCII text, a domain splitter and a character outside the BMP (a surrogate pair)
      {"J\u00fcrgen#sales", "p\u00e4ss \U0001F511", "d3646e8dc78666765cc783920695342d"},
      // a name of 70 characters counts with its first 64, as the account store keeps it
      {"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "x",
       "5ee19c02f730a7786003567cf58ec03d"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeHub hub([&](RawSocket& socket) {
      expectControl(socket, ControlType::kLogin);
      EXPECT_TRUE(socket.writeAll(controlRecord(ControlType::kAuthChallenge, challenge)));
      const RecordHeader answer = expectControl(socket, ControlType::kAuthAnswer);
      ASSERT_EQ(answer.payloadLength, kChallengeSize);
      const auto digest = socket.readExactly(kChallengeSize, kWait);
      ASSERT_TRUE(digest);
      EXPECT_EQ(hex(*digest), row.digest);
      EXPECT_TRUE(socket.writeAll(loginOk()));
    });
    ASSERT_TRUE(hub.started()) << hub.error();
    HubClient client;
    std::string err;
    ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
    EXPECT_EQ(client.login(true, Credentials{row.name, row.password}, kWait, &err),
              LoginResult::kAccepted)
        << err;
  }
}

TEST(HubClient, DeniedLoginIsReported) {
  FakeHub hub([](RawSocket& socket) {
    expectControl(socket, ControlType::kLogin);
    EXPECT_TRUE(socket.writeAll(controlRecord(ControlType::kAuthChallenge, Bytes(16, 0xAB))));
    expectControl(socket, ControlType::kAuthAnswer);
    EXPECT_TRUE(socket.readExactly(kChallengeSize, kWait));
    EXPECT_TRUE(socket.writeAll(controlRecord(ControlType::kLoginDenied)));
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  EXPECT_EQ(client.login(false, Credentials{"bob", "wrong"}, kWait, &err), LoginResult::kDenied);
  EXPECT_EQ(err, "the hub denied the login");
}

TEST(HubClient, LoginFailures) {
  struct Row {
    const char* what;
    std::function<void(RawSocket&)> hub;
    std::optional<Credentials> credentials;
    std::string expectedError;
  };
  const std::vector<Row> rows = {
      {"challenge without credentials",
       [](RawSocket& socket) {
         expectControl(socket, ControlType::kLogin);
         EXPECT_TRUE(socket.writeAll(controlRecord(ControlType::kAuthChallenge, Bytes(16, 1))));
       },
       std::nullopt, "the hub asks for an account, and none was given"},
      {"challenge of the wrong length",
       [](RawSocket& socket) {
         expectControl(socket, ControlType::kLogin);
         EXPECT_TRUE(socket.writeAll(controlRecord(ControlType::kAuthChallenge, Bytes(15, 1))));
       },
       Credentials{"a", "b"}, "the hub sent a challenge of 15 bytes instead of 16"},
      {"hub closes",
       [](RawSocket& socket) {
         expectControl(socket, ControlType::kLogin);
         socket.close();
       },
       std::nullopt, "the hub closed the connection"},
      {"hub stays silent",
       [](RawSocket& socket) {
         expectControl(socket, ControlType::kLogin);
         socket.waitForClose(kWait);
       },
       std::nullopt, "no answer to the login within 200 ms"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeHub hub(row.hub);
    ASSERT_TRUE(hub.started()) << hub.error();
    HubClient client;
    std::string err;
    ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
    EXPECT_EQ(client.login(false, row.credentials, 200ms, &err), LoginResult::kFailed);
    EXPECT_EQ(err, row.expectedError);
    client.shutdown();  // lets a hub that waits for the end finish
  }
}

TEST(HubClient, LoginPassesOverKeepAliveEchoAndKeepsLaterRecords) {
  const Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x40, 1, 2, 3, 4, 5, 0x08, 0x06};
  RecordHeader data;
  data.kind = kKindPlainFrame;
  FakeHub hub([&](RawSocket& socket) {
    expectControl(socket, ControlType::kLogin);
    // An echo before the verdict, and a data record in the same write as LOGIN_OK.
    EXPECT_TRUE(socket.writeAll(
        concat({controlRecord(ControlType::kKeepAliveEcho), loginOk(), record(data, frame)})));
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  ASSERT_EQ(client.login(true, std::nullopt, kWait, &err), LoginResult::kAccepted) << err;

  ReceivedRecord received;
  ASSERT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kRecord) << err;
  EXPECT_FALSE(received.isControl());
  EXPECT_EQ(Bytes(received.payload.begin(), received.payload.end()), frame);
}

TEST(HubClient, SendsKeepAliveAndDataRecords) {
  const Bytes first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  const Bytes second(1500, 0x77);
  const Bytes empty;
  RecordHeader encryptedHeader;
  encryptedHeader.kind = kKindEncrypted;
  encryptedHeader.plainLength = 60;
  const Bytes encrypted = record(encryptedHeader, Bytes(14 + 48, 0x99));
  FakeHub hub([&](RawSocket& socket) {
    const RecordHeader keepAlive = expectControl(socket, ControlType::kKeepAlive);
    EXPECT_EQ(keepAlive.payloadLength, 0u);
    for (const Bytes* frame : {&first, &second, &empty, &first}) {
      const auto header = socket.readExactly(kRecordHeaderSize, kWait);
      ASSERT_TRUE(header);
      const RecordHeader decoded = headerOf(*header);
      EXPECT_EQ(decoded.magic, kRecordMagic);
      EXPECT_EQ(decoded.payloadLength, frame->size());
      EXPECT_EQ(decoded.plainLength, frame->size());
      EXPECT_EQ(decoded.kind, frame == &first ? 7u : kKindPlainFrame);
      if (!frame->empty()) {
        EXPECT_EQ(socket.readExactly(frame->size(), kWait), *frame);
      }
    }
    // A record the caller built goes out byte for byte.
    EXPECT_EQ(socket.readExactly(encrypted.size(), kWait), encrypted);
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  EXPECT_TRUE(client.sendKeepAlive(&err)) << err;
  EXPECT_TRUE(client.sendFrame(first, 7, &err)) << err;
  const std::vector<std::span<const std::uint8_t>> batch = {second, empty};
  EXPECT_TRUE(client.sendFrames(batch, kKindPlainFrame, &err)) << err;
  EXPECT_TRUE(client.sendFrame(first, 7, &err)) << err;
  EXPECT_TRUE(client.sendRaw(encrypted, &err)) << err;
}

TEST(HubClient, RefusesDataRecordsItCannotSend) {
  const Bytes frame(14, 0);
  const Bytes tooLong(kMaxFrameSize + 1, 0);
  FakeHub hub([](RawSocket& socket) {
    // Nothing of a refused batch reaches the hub.
    const auto bytes = socket.readUntilClosed(kWait);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->empty());
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  EXPECT_FALSE(client.sendFrame(frame, kKindControl, &err));
  EXPECT_EQ(err, "data records cannot have kind 0, which marks control records");
  const std::vector<std::span<const std::uint8_t>> batch = {frame, tooLong};
  EXPECT_FALSE(client.sendFrames(batch, kKindPlainFrame, &err));
  EXPECT_EQ(err, "a frame of 65505 bytes is longer than a record carries (65504)");
  client.shutdown();
}

TEST(HubClient, LargeBatchArrivesWholeThroughALateReader) {
  // Megabytes in one call: more than a fresh socket takes at once, so the batch goes out in many
  // partial writes that must resume exactly where the last one stopped.
  constexpr std::size_t kFrames = 4000;
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < kFrames; ++i) {
    frames.emplace_back(64 + i % 1400, static_cast<std::uint8_t>(i));
  }
  FakeHub hub([&](RawSocket& socket) {
    std::this_thread::sleep_for(50ms);  // let the client's socket fill up first
    for (std::size_t i = 0; i < kFrames; ++i) {
      const auto header = socket.readExactly(kRecordHeaderSize, kWait);
      ASSERT_TRUE(header);
      ASSERT_EQ(headerOf(*header).payloadLength, frames[i].size());
      ASSERT_EQ(socket.readExactly(frames[i].size(), kWait), frames[i]) << "frame " << i;
    }
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  const std::vector<std::span<const std::uint8_t>> batch(frames.begin(), frames.end());
  EXPECT_TRUE(client.sendFrames(batch, kKindPlainFrame, &err)) << err;
  hub.join();
}

TEST(HubClient, ReceivesRecordsHoweverTheStreamIsCut) {
  RecordHeader data;
  data.kind = kKindPlainFrame;
  const Bytes small = record(data, Bytes(60, 0x11));
  const Bytes large = record(data, Bytes(1500, 0x22));
  const Bytes echo = controlRecord(ControlType::kKeepAliveEcho);
  FakeHub hub([&](RawSocket& socket) {
    // Two records in one write, then one record in three writes, then the echo.
    EXPECT_TRUE(socket.writeAll(concat({small, large})));
    const std::span<const std::uint8_t> split(large);
    for (const auto& piece : {split.first(10), split.subspan(10, 500), split.subspan(510)}) {
      std::this_thread::sleep_for(20ms);
      EXPECT_TRUE(socket.writeAll(piece));
    }
    EXPECT_TRUE(socket.writeAll(echo));
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;

  for (const Bytes* expected : {&small, &large, &large, &echo}) {
    ReceivedRecord received;
    ASSERT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kRecord) << err;
    const RecordHeader header = headerOf(*expected);
    EXPECT_EQ(received.header.kind, header.kind);
    EXPECT_EQ(received.header.type, header.type);
    EXPECT_EQ(Bytes(received.payload.begin(), received.payload.end()),
              Bytes(expected->begin() + kRecordHeaderSize, expected->end()));
  }
  ReceivedRecord last;
  EXPECT_EQ(client.receiveRecord(&last, kWait, &err), ReceiveResult::kClosed);
  EXPECT_EQ(err, "the hub closed the connection");
}

TEST(HubClient, ReceiveTimesOutAndResumesOnAPartialRecord) {
  RecordHeader data;
  data.kind = kKindPlainFrame;
  const Bytes whole = record(data, Bytes(100, 0x33));
  std::promise<void> checked;
  FakeHub hub([&](RawSocket& socket) {
    EXPECT_TRUE(socket.writeAll(std::span(whole).first(50)));
    checked.get_future().wait();
    EXPECT_TRUE(socket.writeAll(std::span(whole).subspan(50)));
  });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;

  ReceivedRecord received;
  EXPECT_EQ(client.receiveRecord(&received, 100ms, &err), ReceiveResult::kTimedOut);
  checked.set_value();
  ASSERT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kRecord) << err;
  EXPECT_EQ(received.payload.size(), 100u);
}

TEST(HubClient, BrokenStreamFailsForGood) {
  RecordHeader wrongMagic;
  wrongMagic.magic = 0xFF00FF01;
  RecordHeader oversized;
  oversized.kind = kKindPlainFrame;
  oversized.payloadLength = kMaxFrameSize + 1;
  const auto oversizedHeader = encodeRecordHeader(oversized);
  struct Row {
    const char* what;
    Bytes bytes;
    std::string expectedError;
  };
  const std::vector<Row> rows = {
      {"wrong magic", record(wrongMagic),
       "the stream from the hub is broken: a record header without the magic 0xFF00FF00"},
      {"record longer than any buffer", Bytes(oversizedHeader.begin(), oversizedHeader.end()),
       "the hub announced a record of 65537 bytes, longer than 65536"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeHub hub([&](RawSocket& socket) {
      EXPECT_TRUE(socket.writeAll(concat({loginOk(), row.bytes})));
      socket.waitForClose(kWait);
    });
    ASSERT_TRUE(hub.started()) << hub.error();
    HubClient client;
    std::string err;
    ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
    ReceivedRecord received;
    ASSERT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kRecord) << err;
    EXPECT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kFailed);
    EXPECT_EQ(err, row.expectedError);
    err.clear();
    EXPECT_EQ(client.receiveRecord(&received, kWait, &err), ReceiveResult::kFailed);
    EXPECT_EQ(err, row.expectedError);
    client.shutdown();
  }
}

TEST(HubClient, ShutdownWakesABlockedReceive) {
  FakeHub hub([](RawSocket& socket) { socket.waitForClose(kWait); });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;

  ReceiveResult result = ReceiveResult::kRecord;
  std::thread receiver([&] {
    ReceivedRecord received;
    std::string receiveErr;
    result = client.receiveRecord(&received, kNoTimeLimit, &receiveErr);
    EXPECT_EQ(receiveErr, "the connection was shut down");
  });
  std::this_thread::sleep_for(50ms);
  client.shutdown();
  receiver.join();
  EXPECT_EQ(result, ReceiveResult::kClosed);
  EXPECT_FALSE(client.sendKeepAlive(&err));
}

TEST(HubClient, ConnectFailureAndUseBeforeConnect) {
  HubClient client;
  std::string err;
  EXPECT_FALSE(client.sendKeepAlive(&err));
  EXPECT_EQ(err, "the client is not connected");
  ReceivedRecord received;
  EXPECT_EQ(client.receiveRecord(&received, 10ms, &err), ReceiveResult::kFailed);
  EXPECT_EQ(err, "the client is not connected");

  const int closedPort = korvane::testing::freeTcpPort();
  ASSERT_NE(closedPort, 0);
  HubClient refused;
  EXPECT_FALSE(refused.connect("127.0.0.1", closedPort, &err));
  EXPECT_EQ(err, "connect 127.0.0.1:" + std::to_string(closedPort) + ": Connection refused");
  EXPECT_FALSE(refused.isConnected());
}

TEST(HubClient, ConnectsOnce) {
  FakeHub hub([](RawSocket& socket) { socket.waitForClose(kWait); });
  ASSERT_TRUE(hub.started()) << hub.error();
  HubClient client;
  std::string err;
  ASSERT_TRUE(client.connect("127.0.0.1", hub.port(), &err)) << err;
  EXPECT_FALSE(client.connect("127.0.0.1", hub.port(), &err));
  EXPECT_EQ(err, "the client is already connected");
  client.shutdown();
}

}  // namespace
}  // namespace korvane::common
