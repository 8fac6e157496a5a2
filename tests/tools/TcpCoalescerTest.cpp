// kvtap's joining of consecutive TCP frames from the hub into one segment for the TAP device.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/TcpFrames.h"
#include "tools/kvtap/FrameSplitter.h"
#include "tools/kvtap/TcpCoalescer.h"

namespace korvane::tools {
namespace {

using platform::TapOffload;
using Segmentation = TapOffload::Segmentation;
using testing::SegmentShape;
using testing::tcpFrame;

struct Written {
  TapOffload offload;
  std::vector<std::uint8_t> packet;
};

class TcpCoalescerTest : public ::testing::Test {
 protected:
  TcpCoalescer coalescer_{[this](const TapOffload& offload, std::span<const std::uint8_t> p) {
    written_.push_back({offload, std::vector<std::uint8_t>(p.begin(), p.end())});
  }};
  std::vector<Written> written_;
};

/// Frames of one connection in a row: `sizes` payload bytes each, IP identifications counting up.
std::vector<std::vector<std::uint8_t>> run(bool ipv6, const std::vector<std::size_t>& sizes,
                                           std::uint8_t lastFlags = kTcpAck) {
  std::vector<std::vector<std::uint8_t>> frames;
  SegmentShape shape;
  shape.ipv6 = ipv6;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    shape.payload = sizes[i];
    shape.flags = i + 1 == sizes.size() ? lastFlags : kTcpAck;
    frames.push_back(tcpFrame(shape));
    shape.sequence += static_cast<std::uint32_t>(sizes[i]);
    shape.fill = static_cast<std::uint8_t>(shape.fill + sizes[i]);
    ++shape.ipId;
  }
  return frames;
}

TEST_F(TcpCoalescerTest, JoinsARunIntoOneSegmentThatCutsBackIntoTheSameFrames) {
  for (const bool ipv6 : {false, true}) {
    SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
    written_.clear();
    const auto frames = run(ipv6, {1448, 1448, 1448, 1448, 500}, kTcpAck | kTcpPush);
    for (const auto& frame : frames) {
      coalescer_.add(frame);
    }
    EXPECT_TRUE(written_.empty()) << "nothing goes before the flush";
    coalescer_.flush();
    ASSERT_EQ(written_.size(), 1u);
    const TapOffload& offload = written_[0].offload;
    const auto layout = *findTcpLayout(frames[0]);
    EXPECT_EQ(offload.segmentation, ipv6 ? Segmentation::kTcp6 : Segmentation::kTcp4);
    EXPECT_EQ(offload.segmentSize, 1448);
    EXPECT_EQ(offload.headerLength, layout.payload);
    EXPECT_TRUE(offload.needsChecksum);
    EXPECT_EQ(offload.checksumStart, layout.tcp);
    EXPECT_EQ(offload.checksumOffset, kTcpChecksumOffset);
    EXPECT_EQ(written_[0].packet.size(), layout.payload + 4 * 1448 + 500);
    // Cut again as the kernel would cut it for a link, the segment gives back every frame.
    std::vector<std::uint8_t> out;
    std::vector<FrameSpan> spans;
    std::string err;
    ASSERT_TRUE(FrameSplitter().append(offload, written_[0].packet, 0, &out, &spans, &err)) << err;
    ASSERT_EQ(spans.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + spans[i].offset,
                                          out.begin() + spans[i].offset + spans[i].length),
                frames[i]);
    }
  }
}

TEST_F(TcpCoalescerTest, PassesFramesThatCannotJoinAsTheyCameInOrder) {
  const auto base = tcpFrame({});
  const auto next = [](SegmentShape shape) {
    shape.sequence = 1100;
    return shape;
  };
  auto corrupt = tcpFrame(next({}));
  corrupt.back() ^= 0xFF;
  struct Row {
    const char* what;
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
  };
  const Row rows[] = {
      {"a gap in the sequence", base, tcpFrame({.sequence = 1101})},
      {"another connection", base, tcpFrame(next({.sourcePort = 40001}))},
      {"a longer piece after a shorter one", base, tcpFrame(next({.payload = 101}))},
      {"the first piece was pushed", tcpFrame({.flags = kTcpAck | kTcpPush}), tcpFrame(next({}))},
      {"a FIN", base, tcpFrame(next({.flags = kTcpAck | kTcpFin}))},
      {"an ACK without data", base, tcpFrame(next({.payload = 0}))},
      {"a wrong TCP checksum", base, corrupt},
      {"a wrong first checksum", corrupt, tcpFrame({.sequence = 1200})},
      {"no TCP at all", base, std::vector<std::uint8_t>(60, 0x06)},
      {"IPv6 after IPv4", base, tcpFrame(next({.ipv6 = true}))},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    written_.clear();
    coalescer_.add(row.first);
    coalescer_.add(row.second);
    coalescer_.flush();
    ASSERT_EQ(written_.size(), 2u);
    EXPECT_EQ(written_[0].packet, row.first);
    EXPECT_EQ(written_[1].packet, row.second);
    EXPECT_EQ(written_[0].offload.segmentation, Segmentation::kNone);
    EXPECT_FALSE(written_[1].offload.needsChecksum);
  }
}

TEST_F(TcpCoalescerTest, JoinsConnectionsThatTakeTurnsEachOnItsOwn) {
  std::vector<std::vector<std::vector<std::uint8_t>>> connections;
  for (std::size_t c = 0; c < kJoinedConnections; ++c) {
    SegmentShape shape;
    shape.sourcePort = static_cast<std::uint16_t>(40000 + c);
    connections.emplace_back();
    for (int i = 0; i < 3; ++i) {
      connections.back().push_back(tcpFrame(shape));
      shape.sequence += 100;
    }
  }
  for (std::size_t i = 0; i < 3; ++i) {
    for (const auto& frames : connections) {
      coalescer_.add(frames[i]);
    }
  }
  coalescer_.flush();
  // One segment per connection, in the order the connections started.
  ASSERT_EQ(written_.size(), connections.size());
  for (std::size_t c = 0; c < connections.size(); ++c) {
    SCOPED_TRACE(c);
    const auto& packet = written_[c].packet;
    const auto layout = *findTcpLayout(packet);
    EXPECT_EQ(readBig16(&packet[layout.tcp]), 40000 + c);
    EXPECT_EQ(common::readBigEndian32(&packet[layout.tcp + kTcpSequenceOffset]), 1000u);
    EXPECT_EQ(layout.end - layout.payload, 300u);
  }
  // One connection more than it joins at once: the oldest goes on as it is to make room, and
  // its next frame starts anew behind it.
  written_.clear();
  coalescer_.add(tcpFrame({}));
  for (std::size_t c = 1; c <= kJoinedConnections; ++c) {
    coalescer_.add(tcpFrame({.sourcePort = static_cast<std::uint16_t>(40000 + c)}));
  }
  ASSERT_EQ(written_.size(), 1u);
  EXPECT_EQ(written_[0].packet, tcpFrame({}));
}

TEST_F(TcpCoalescerTest, DropsTheFirstFramesPaddingWhenItJoins) {
  // Ethernet pads a frame to 60 bytes; the IP length says where the segment ends.
  auto first = tcpFrame({.payload = 2, .timestamps = false});
  first.resize(60, 0);
  coalescer_.add(first);
  coalescer_.flush();
  ASSERT_EQ(written_.size(), 1u);
  EXPECT_EQ(written_[0].packet, first) << "a lone frame passes with its padding";

  written_.clear();
  coalescer_.add(first);
  coalescer_.add(tcpFrame({.sequence = 1002, .payload = 2, .fill = 2, .timestamps = false}));
  coalescer_.flush();
  ASSERT_EQ(written_.size(), 1u);
  const auto& packet = written_[0].packet;
  ASSERT_EQ(packet.size(), 14u + 20 + 20 + 4);
  EXPECT_EQ(std::vector<std::uint8_t>(packet.end() - 4, packet.end()),
            (std::vector<std::uint8_t>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace korvane::tools
