// kvtap's cutting of the TAP device's large TCP segments into the frames a link carries, and the
// Internet checksum it computes them with.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/TcpFrames.h"
#include "tools/kvtap/FrameSplitter.h"
#include "tools/kvtap/InternetChecksum.h"
#include "tools/kvtap/TcpLayout.h"

namespace korvane::tools {
namespace {

using platform::TapOffload;
using Segmentation = TapOffload::Segmentation;
using testing::SegmentShape;
using testing::tcpFrame;

/// The offload the kernel hands over with a segment of `frame`'s layout cut in pieces of `size`.
TapOffload segmentOffload(const std::vector<std::uint8_t>& frame, std::uint16_t size) {
  const auto layout = findTcpLayout(frame);
  TapOffload offload;
  offload.segmentation = layout->ipv6 ? Segmentation::kTcp6 : Segmentation::kTcp4;
  offload.segmentSize = size;
  offload.needsChecksum = true;
  offload.checksumStart = static_cast<std::uint16_t>(layout->tcp);
  offload.checksumOffset = kTcpChecksumOffset;
  return offload;
}

TEST(InternetChecksum, MatchesTheWorkedExampleOfRfc1071) {
  // RFC 1071, 3: the words 0001 f203 f4f5 f6f7 sum to ddf2, whose complement is 220d.
  InternetChecksum sum;
  const std::uint8_t bytes[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  sum.add(bytes);
  std::uint8_t stored[2];
  storeChecksum(stored, sum.value());
  EXPECT_EQ(stored[0], 0x22);
  EXPECT_EQ(stored[1], 0x0D);
  // An odd last byte is the high half of a word: 01 alone sums to 0100.
  InternetChecksum odd;
  const std::uint8_t one[] = {0x01};
  odd.add(one);
  storeChecksum(stored, odd.value());
  EXPECT_EQ(stored[0], 0xFE);
  EXPECT_EQ(stored[1], 0xFF);
}

TEST(FrameSplitter, CutsALargeSegmentIntoFramesOfTheKernelsSize) {
  struct Row {
    const char* what;
    bool ipv6;
    std::size_t payload;
    std::uint16_t size;
    std::uint8_t flags;
  };
  const Row rows[] = {
      {"IPv4 with a short last piece", false, 4000, 1448, kTcpAck | kTcpPush | kTcpCwr},
      {"IPv6, pieces of equal size", true, 2856, 1428, kTcpAck | kTcpPush | kTcpFin},
      {"IPv4, the largest segment", false, 65535 - 20 - 32, 1448, kTcpAck},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SegmentShape shape;
    shape.ipv6 = row.ipv6;
    shape.payload = row.payload;
    shape.flags = row.flags;
    const auto packet = tcpFrame(shape);
    const auto whole = *findTcpLayout(packet);
    std::vector<std::uint8_t> out;
    std::vector<FrameSpan> frames;
    std::string err;
    ASSERT_TRUE(
        FrameSplitter().append(segmentOffload(packet, row.size), packet, 32, &out, &frames, &err))
        << err;
    ASSERT_EQ(frames.size(), (row.payload + row.size - 1) / row.size);
    std::vector<std::uint8_t> payload;
    std::size_t expectedOffset = 32;  // each frame behind the room asked for
    for (std::size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE(i);
      const bool last = i + 1 == frames.size();
      const std::span<const std::uint8_t> frame(out.data() + frames[i].offset, frames[i].length);
      EXPECT_EQ(frames[i].offset, expectedOffset);
      expectedOffset += frames[i].length + 32;
      const auto layout = findTcpLayout(frame);
      ASSERT_TRUE(layout);
      EXPECT_EQ(layout->end, frame.size());
      EXPECT_EQ(layout->payload, whole.payload);
      EXPECT_LE(frame.size(), whole.payload + row.size);
      EXPECT_TRUE(tcpChecksumHolds(frame, *layout));
      const std::uint8_t* tcp = frame.data() + layout->tcp;
      EXPECT_EQ(common::readBigEndian32(tcp + kTcpSequenceOffset), shape.sequence + i * row.size);
      const std::uint8_t lastOnly = kTcpPush | kTcpFin;
      EXPECT_EQ(tcp[kTcpFlagsOffset] & lastOnly, last ? row.flags & lastOnly : 0);
      EXPECT_EQ(tcp[kTcpFlagsOffset] & kTcpCwr, i == 0 ? row.flags & kTcpCwr : 0);
      if (!row.ipv6) {
        InternetChecksum header;
        header.add(frame.subspan(layout->ip, kIpv4HeaderSize));
        EXPECT_TRUE(header.verifies());
        EXPECT_EQ(readBig16(&frame[layout->ip + 4]), shape.ipId + i);
      }
      payload.insert(payload.end(), frame.begin() + layout->payload, frame.end());
    }
    EXPECT_TRUE(
        std::equal(payload.begin(), payload.end(), packet.begin() + whole.payload, packet.end()));
    EXPECT_EQ(payload.size(), row.payload);
  }
}

TEST(FrameSplitter, CompletesAChecksumTheKernelLeftOpenAndPassesOtherFramesAsTheyAre) {
  auto frame = tcpFrame({});
  const auto layout = *findTcpLayout(frame);
  // The kernel leaves the pseudo-header's sum in the checksum's place.
  InternetChecksum pseudo;
  addPseudoHeader(frame, layout, layout.end - layout.tcp, &pseudo);
  storeChecksum(&frame[layout.tcp + kTcpChecksumOffset], pseudo.folded());
  TapOffload open;
  open.needsChecksum = true;
  open.checksumStart = static_cast<std::uint16_t>(layout.tcp);
  open.checksumOffset = kTcpChecksumOffset;
  std::vector<std::uint8_t> out = {9};
  std::vector<FrameSpan> frames;
  std::string err;
  ASSERT_TRUE(FrameSplitter().append(open, frame, 0, &out, &frames, &err)) << err;
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].offset, 1u);
  EXPECT_TRUE(tcpChecksumHolds(std::span(out).subspan(1), layout));

  const std::vector<std::uint8_t> arp(60, 0x06);
  ASSERT_TRUE(FrameSplitter().append({}, arp, 32, &out, &frames, &err)) << err;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].offset, 1 + frame.size() + 32);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 1 + frame.size() + 32, out.end()), arp);
}

TEST(FrameSplitter, RefusesPacketsWhoseOffloadDoesNotFitAndAppendsNothing) {
  const auto packet = tcpFrame({.payload = 3000});
  const TapOffload good = segmentOffload(packet, 1448);
  struct Row {
    const char* what;
    TapOffload offload;
    std::size_t length;
  };
  std::vector<Row> rows;
  rows.push_back({"a kind never asked for", good, packet.size()});
  rows.back().offload.segmentation = Segmentation::kOther;
  rows.push_back({"IPv6 named for an IPv4 packet", good, packet.size()});
  rows.back().offload.segmentation = Segmentation::kTcp6;
  rows.push_back({"no piece size", good, packet.size()});
  rows.back().offload.segmentSize = 0;
  rows.push_back({"the TCP header elsewhere", good, packet.size()});
  rows.back().offload.checksumStart = 30;
  rows.push_back({"no checksum to complete", good, packet.size()});
  rows.back().offload.needsChecksum = false;
  rows.push_back({"headers cut short", good, 50});
  rows.push_back({"the packet shorter than its IP length", good, packet.size() - 1});
  rows.push_back({"a checksum place beyond the frame", TapOffload{}, packet.size()});
  rows.back().offload.needsChecksum = true;
  rows.back().offload.checksumStart = 20;
  rows.back().offload.checksumOffset = static_cast<std::uint16_t>(packet.size());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> out = {1, 2, 3};
    std::vector<FrameSpan> frames;
    std::string err;
    EXPECT_FALSE(FrameSplitter().append(row.offload, std::span(packet).first(row.length), 32, &out,
                                        &frames, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(frames.empty());
  }
}

}  // namespace
}  // namespace korvane::tools
