#include "panel/logic/HubQueryClient.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "common/ControlMessage.h"
#include "platform/LocalPipe.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

// A hub stand-in that serves one request on KVHUB_0001 with a reply made by the test.
class FakeHub {
 public:
  explicit FakeHub(std::vector<std::uint8_t> reply) : reply_(std::move(reply)) {
    std::string err;
    auto server = platform::PipeServer::create(common::hubPipeName(1),
                                               platform::PipeAccess::kOwnerOnly, &err);
    EXPECT_TRUE(server) << err;
    server_ = std::move(*server);
    thread_ = std::thread([this] {
      auto client = server_.accept();
      if (!client) {
        return;
      }
      std::array<std::uint8_t, common::kControlHeaderSize> request{};
      if (client->readFully(request, 2s) == request.size()) {
        received_ = common::decodeControlHeader(request);
      }
      (void)client->writeAll(reply_);
      client->close();
    });
  }
  ~FakeHub() {
    server_.close();
    thread_.join();
  }
  const common::ControlHeader& received() const { return received_; }

 private:
  std::vector<std::uint8_t> reply_;
  platform::PipeServer server_;
  std::thread thread_;
  common::ControlHeader received_{0, 0, 0, 0};
};

std::vector<std::uint8_t> replyWith(std::uint32_t magic, std::uint32_t length,
                                    std::uint32_t code, std::size_t dataBytes,
                                    std::uint8_t fill = 0) {
  const auto header = common::encodeControlHeader({magic, length, code, 0});
  std::vector<std::uint8_t> reply(header.begin(), header.end());
  reply.resize(reply.size() + dataBytes, fill);
  return reply;
}

class HubQueryClientTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.useForThisProcess(); }
  testing::TempProgramDir dir_;
  testing::ManualClock clock_;
};

TEST_F(HubQueryClientTest, StateQueryReadsTheValueAfterTheHeader) {
  auto reply = replyWith(common::kControlMagic, 4, 10, 4);
  reply[16] = 0xFF, reply[17] = 0xFF, reply[18] = 0xFF, reply[19] = 0xFF;  // -1
  FakeHub hub(reply);
  EXPECT_EQ(HubQueryClient(clock_).queryState(1), -1);
  EXPECT_EQ(hub.received().command, 9u);
  EXPECT_EQ(hub.received().parameter, 0u);
}

TEST_F(HubQueryClientTest, WrongRepliesCountAsNoAnswer) {
  struct Row {
    const char* what;
    std::vector<std::uint8_t> reply;
  };
  const Row rows[] = {
      {"reply code 4 instead of 10", replyWith(common::kControlMagic, 4, 4, 4, 1)},
      {"wrong magic", replyWith(0x00FF00FF, 4, 10, 4, 1)},
      {"data shorter than announced", replyWith(common::kControlMagic, 4, 10, 2, 1)},
      {"nothing at all", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeHub hub(row.reply);
    EXPECT_EQ(HubQueryClient(clock_).queryState(1), 0);
  }
}

TEST_F(HubQueryClientTest, ConnectionQueryTakesWholeRecordsOnly) {
  common::PortListEntry entry;
  entry.state = 2;
  entry.logName = "[host] 192.0.2.1:5000";
  entry.account = "alice#sales";
  entry.kilobytesSent = 12;
  std::array<std::uint8_t, common::kPortListRecordSize> record{};
  common::encodePortListRecord(entry, record);
  auto reply = replyWith(common::kControlMagic, 1000, 4, 0);
  reply.insert(reply.end(), record.begin(), record.end());
  reply.resize(16 + 1000, 0);  // a second record would not fit into 1000 bytes

  FakeHub hub(reply);
  const auto entries = HubQueryClient(clock_).queryConnections(1, 4242);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].logName, entry.logName);
  EXPECT_EQ((*entries)[0].account, "alice#sales");
  EXPECT_EQ((*entries)[0].kilobytesSent, 12);
  EXPECT_EQ(hub.received().command, 3u);
  EXPECT_EQ(hub.received().parameter, 4242u);
}

TEST_F(HubQueryClientTest, ReplyAnnouncingMoreThanTheLimitIsRejected) {
  FakeHub hub(replyWith(common::kControlMagic, 409590, 4, 0));
  EXPECT_FALSE(HubQueryClient(clock_).queryConnections(1, 1));
}

TEST_F(HubQueryClientTest, EmptyHubAnswersAnEmptyList) {
  FakeHub hub(replyWith(common::kControlMagic, 0, 4, 0));
  const auto entries = HubQueryClient(clock_).queryConnections(1, 1);
  ASSERT_TRUE(entries);
  EXPECT_TRUE(entries->empty());
}

TEST_F(HubQueryClientTest, HubThatDoesNotRunGivesNoAnswerAfterSixAttempts) {
  const auto before = clock_.tickCount();
  EXPECT_EQ(HubQueryClient(clock_).queryState(1), 0);
  EXPECT_FALSE(HubQueryClient(clock_).queryConnections(1, 1));
  EXPECT_EQ(clock_.tickCount() - before, 2u * 5u * 100u) << "five pauses of 100 ms per query";
}

}  // namespace
}  // namespace korvane::panel
