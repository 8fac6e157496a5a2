// Unit tests of the client protocol's record codec and of the parser that cuts a receive
// buffer into records.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "common/ClientRecord.h"

namespace korvane::common {
namespace {

std::vector<std::uint8_t> record(std::uint32_t payloadLength, std::uint8_t fill = 0xAB,
                                 std::uint32_t magic = kRecordMagic) {
  RecordHeader header;
  header.magic = magic;
  header.payloadLength = payloadLength;
  header.kind = 1;
  const auto bytes = encodeRecordHeader(header);
  std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
  out.resize(out.size() + payloadLength, fill);
  return out;
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

ParseResult parse(const std::vector<std::uint8_t>& buffer, std::array<RecordSpan, 256>& out) {
  return parseRecords(buffer, out);
}

TEST(ClientRecord, HeaderFieldsAreBigEndianAtTheirOffsets) {
  RecordHeader header;
  header.payloadLength = 0x01020304;
  header.kind = 2;
  header.type = 8;
  header.plainLength = 0x0A0B0C0D;
  header.option = 1;
  header.clientBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto bytes = encodeRecordHeader(header);
  const std::array<std::uint8_t, 32> expected = {0xFF, 0x00, 0xFF, 0x00, 1, 2,  3,  4,  0,  0, 0,
                                                 2,    0,    0,    0,    8, 10, 11, 12, 13, 0, 0,
                                                 0,    1,    1,    2,    3, 4,  5,  6,  7,  8};
  EXPECT_EQ(bytes, expected);
  const RecordHeader back = decodeRecordHeader(bytes);
  EXPECT_EQ(back.payloadLength, header.payloadLength);
  EXPECT_EQ(back.plainLength, header.plainLength);
  EXPECT_EQ(back.clientBytes, header.clientBytes);
}

TEST(ClientRecord, TwoRecordsInOneSegmentAreBothTaken) {
  const auto buffer = joined({record(14), record(60)});
  std::array<RecordSpan, 256> out{};
  const ParseResult result = parse(buffer, out);
  ASSERT_EQ(result.count, 2u);
  EXPECT_EQ(out[0].offset, 0u);
  EXPECT_EQ(out[0].length, 46u);
  EXPECT_EQ(out[1].offset, 46u);
  EXPECT_EQ(out[1].length, 92u);
  EXPECT_EQ(result.consumed, buffer.size());
  EXPECT_FALSE(result.preambleError);
}

TEST(ClientRecord, RecordSplitOverThreeSegmentsCompletesWithTheLast) {
  const auto whole = record(100);
  std::array<RecordSpan, 256> out{};
  for (const std::size_t arrived : {std::size_t{20}, std::size_t{70}}) {
    SCOPED_TRACE(arrived);
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + arrived);
    const ParseResult result = parse(part, out);
    EXPECT_EQ(result.count, 0u);
    EXPECT_EQ(result.consumed, 0u);
    EXPECT_FALSE(result.preambleError);
  }
  const ParseResult result = parse(whole, out);
  EXPECT_EQ(result.count, 1u);
  EXPECT_EQ(result.consumed, whole.size());
}

TEST(ClientRecord, BadMagicStopsThePassAfterTheRecordsBeforeIt) {
  const auto buffer = joined({record(10), record(20), record(10, 0, 0x00FF00FF), record(10)});
  std::array<RecordSpan, 256> out{};
  const ParseResult result = parse(buffer, out);
  EXPECT_EQ(result.count, 2u);
  EXPECT_EQ(result.consumed, 42u + 52u);
  EXPECT_TRUE(result.preambleError);
}

TEST(ClientRecord, BadMagicInTheFirstHeaderTakesNothing) {
  const auto buffer = record(10, 0, 0xFF00FF01);
  std::array<RecordSpan, 256> out{};
  const ParseResult result = parse(buffer, out);
  EXPECT_EQ(result.count, 0u);
  EXPECT_EQ(result.consumed, 0u);
  EXPECT_TRUE(result.preambleError);
}

TEST(ClientRecord, HugePayloadLengthsNeverCompleteOrWrap) {
  const std::uint32_t lengths[] = {0xFFFFFFFFu, 0xFFFFFFE0u, 0xFFFFFFE1u, 0x80000000u, 65505u};
  for (const std::uint32_t length : lengths) {
    SCOPED_TRACE(length);
    RecordHeader header;
    header.payloadLength = length;
    const auto bytes = encodeRecordHeader(header);
    std::vector<std::uint8_t> buffer(bytes.begin(), bytes.end());
    buffer.resize(65536, 0);  // a full receive buffer
    std::array<RecordSpan, 256> out{};
    const ParseResult result = parse(buffer, out);
    EXPECT_EQ(result.count, 0u);
    EXPECT_EQ(result.consumed, 0u);
    EXPECT_FALSE(result.preambleError);
  }
}

TEST(ClientRecord, FewerThan32BytesAreNoRecord) {
  std::array<RecordSpan, 256> out{};
  const auto whole = record(0);
  const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + 31);
  EXPECT_EQ(parse(part, out).count, 0u);
  EXPECT_EQ(parse(whole, out).count, 1u) << "a header without payload is a whole record";
}

TEST(ClientRecord, APassTakesAtMost256Records) {
  std::vector<std::uint8_t> buffer;
  for (int i = 0; i < 300; ++i) {
    const auto one = record(4);
    buffer.insert(buffer.end(), one.begin(), one.end());
  }
  std::array<RecordSpan, 256> out{};
  const ParseResult first = parse(buffer, out);
  EXPECT_EQ(first.count, 256u);
  EXPECT_EQ(first.consumed, 256u * 36u);
  EXPECT_FALSE(first.preambleError);

  const std::vector<std::uint8_t> rest(buffer.begin() + static_cast<std::ptrdiff_t>(first.consumed),
                                       buffer.end());
  const ParseResult second = parse(rest, out);
  EXPECT_EQ(second.count, 44u);
  EXPECT_EQ(second.consumed, rest.size());
}

TEST(ClientRecord, ParserFillsNoMoreThanItsOutput) {
  const auto buffer = joined({record(1), record(2), record(3), record(4)});
  std::array<RecordSpan, 2> out{};
  const ParseResult result = parseRecords(buffer, out);
  EXPECT_EQ(result.count, 2u);
  EXPECT_EQ(result.consumed, 33u + 34u);
}

}  // namespace
}  // namespace korvane::common
