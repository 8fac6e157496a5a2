#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ControlReply.h"

namespace korvane::common {
namespace {

std::vector<std::uint8_t> replyWith(std::uint32_t magic, std::uint32_t length, std::uint32_t code,
                                    std::size_t dataBytes) {
  const auto header = encodeControlHeader({magic, length, code, 0});
  std::vector<std::uint8_t> reply(header.begin(), header.end());
  reply.resize(reply.size() + dataBytes, 1);
  return reply;
}

TEST(ControlReply, ListenStateReplyIsTheHeaderAndOneWord) {
  // clang-format off
  const std::vector<std::uint8_t> expected = {
      0x00, 0xFF, 0x00, 0xFF,  // magic
      4,    0,    0,    0,     // one word of data
      10,   0,    0,    0,     // reply code
      0,    0,    0,    0,
      0xFF, 0xFF, 0xFF, 0xFF,  // -1: the port was taken
  };
  // clang-format on
  const auto reply = encodeListenStateReply(-1);
  EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.end()), expected);
  for (const std::int32_t state : {-1, 0, 1}) {
    SCOPED_TRACE(state);
    EXPECT_EQ(decodeListenStateReply(encodeListenStateReply(state)), state);
  }
}

TEST(ControlReply, ListenStateDecoderRefusesOtherReplies) {
  struct Row {
    const char* what;
    std::vector<std::uint8_t> reply;
  };
  const Row rows[] = {
      {"reply code 4", replyWith(kControlMagic, 4, 4, 4)},
      {"less than a word announced", replyWith(kControlMagic, 2, 10, 4)},
      {"less than a word received", replyWith(kControlMagic, 4, 10, 2)},
      {"more announced than the limit", replyWith(kControlMagic, kControlReplyLimit, 10, 4)},
      {"half a header", {0x00, 0xFF, 0x00, 0xFF}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(decodeListenStateReply(row.reply), std::nullopt);
  }
}

TEST(ControlReply, PortListReplyCarriesTheRecordsInOrder) {
  std::vector<PortListEntry> entries(2);
  entries[0].state = 2;
  entries[0].logName = "[pc] 192.0.2.9:4000";
  entries[0].account = "bob#dev";
  entries[0].kilobytesReceived = -1;
  entries[1].logName = "[laptop] 192.0.2.10:4001";
  std::vector<PortListRecordBytes> records(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    encodePortListRecord(entries[i], records[i]);
  }

  const std::vector<std::uint8_t> reply = encodePortListReply(records);
  ASSERT_EQ(reply.size(), kControlHeaderSize + 2 * kPortListRecordSize);
  const ControlHeader header = decodeControlHeader(std::span(reply).first<kControlHeaderSize>());
  EXPECT_EQ(header.magic, kControlMagic);
  EXPECT_EQ(header.length, 2 * kPortListRecordSize);
  EXPECT_EQ(header.command, 4u);
  EXPECT_EQ(header.parameter, 0u);
  const auto decoded = decodePortListReply(reply);
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0].logName, entries[0].logName);
  EXPECT_EQ((*decoded)[0].account, "bob#dev");
  EXPECT_EQ((*decoded)[0].kilobytesReceived, -1);
  EXPECT_EQ((*decoded)[1].logName, entries[1].logName);

  EXPECT_EQ(encodePortListReply({}), replyWith(kControlMagic, 0, 4, 0));
}

TEST(ControlReply, PortListReplyStaysWithinTheReplyLimit) {
  const std::vector<PortListRecordBytes> records(kMaxPortListRecords + 10);
  const std::vector<std::uint8_t> reply = encodePortListReply(records);
  EXPECT_EQ(reply.size(), kControlHeaderSize + kMaxPortListRecords * kPortListRecordSize);
  EXPECT_LE(reply.size(), kControlReplyLimit);
  const auto decoded = decodePortListReply(reply);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->size(), kMaxPortListRecords);
}

}  // namespace
}  // namespace korvane::common
