#include "tools/kvtap/TcpCoalescer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace korvane::tools {
namespace {

using Segmentation = platform::TapOffload::Segmentation;

// The largest joined frame: an IP packet of the longest length its header can state, behind its
// Ethernet header (and a VLAN tag).
constexpr std::size_t kMaxJoinedFrame = kTaggedEthernetHeaderSize + kMaxIpLength;

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, std::size_t from,
               std::size_t to) {
  return std::memcmp(a.data() + from, b.data() + from, to - from) == 0;
}

/// A frame that may take part in a joined segment: a TCP segment with a payload and no flag but
/// ACK and PSH, and without IPv4 options.
std::optional<TcpLayout> joinableLayout(std::span<const std::uint8_t> frame) {
  const auto layout = findTcpLayout(frame);
  if (!layout || layout->payload == layout->end) {
    return std::nullopt;
  }
  if (!layout->ipv6 && layout->tcp - layout->ip != kIpv4HeaderSize) {
    return std::nullopt;
  }
  const std::uint8_t flags = frame[layout->tcp + kTcpFlagsOffset];
  if ((flags & ~kTcpPush) != kTcpAck) {
    return std::nullopt;
  }
  return layout;
}

bool ipv4HeaderHolds(std::span<const std::uint8_t> frame, const TcpLayout& layout) {
  InternetChecksum sum;
  sum.add(frame.subspan(layout.ip, layout.tcp - layout.ip));
  return sum.verifies();
}

}  // namespace

TcpCoalescer::TcpCoalescer(Sink sink) : sink_(std::move(sink)), segments_(kJoinedConnections) {}

void TcpCoalescer::add(std::span<const std::uint8_t> frame) {
  const auto layout = joinableLayout(frame);
  const bool valid = layout && (layout->ipv6 || ipv4HeaderHolds(frame, *layout)) &&
                     tcpChecksumHolds(frame, *layout);
  if (!valid) {
    flush();
    sink_(platform::TapOffload{}, frame);
    return;
  }
  Segment* oldest = &segments_.front();
  for (Segment& segment : segments_) {
    if (!segment.packet.empty() && sameConnection(segment, frame, *layout)) {
      if (joins(segment, frame, *layout)) {
        append(&segment, frame, *layout);
      } else {
        flush(&segment);
        start(&segment, frame, *layout);
      }
      return;
    }
    if (oldest->packet.empty()) {
      continue;  // a free slot stays the choice
    }
    if (segment.packet.empty() || segment.age < oldest->age) {
      oldest = &segment;
    }
  }
  flush(oldest);
  start(oldest, frame, *layout);
}

bool TcpCoalescer::sameConnection(const Segment& segment, std::span<const std::uint8_t> frame,
                                  const TcpLayout& layout) {
  if (layout.ipv6 != segment.layout.ipv6 || layout.ip != segment.layout.ip ||
      layout.tcp != segment.layout.tcp) {
    return false;
  }
  const std::span<const std::uint8_t> first(segment.packet);
  // The addresses and the ports.
  const std::size_t addresses = layout.ip + (layout.ipv6 ? 8 : 12);
  return sameBytes(frame, first, addresses, layout.tcp) &&
         sameBytes(frame, first, layout.tcp, layout.tcp + 4);
}

bool TcpCoalescer::joins(const Segment& segment, std::span<const std::uint8_t> frame,
                         const TcpLayout& layout) {
  if (segment.closed || layout.payload != segment.layout.payload) {
    return false;
  }
  const std::size_t length = layout.end - layout.payload;
  const std::size_t joinedIpLength =
      segment.layout.end + length - layout.ip - (layout.ipv6 ? kIpv6HeaderSize : 0);
  if (length > segment.pieceSize || joinedIpLength > kMaxIpLength ||
      common::readBigEndian32(&frame[layout.tcp + kTcpSequenceOffset]) != segment.nextSequence) {
    return false;
  }
  const std::span<const std::uint8_t> first(segment.packet);
  const std::size_t ip = layout.ip;
  const std::size_t tcp = layout.tcp;
  // The link and IP headers but for lengths, identification and checksum; the TCP header but
  // for the sequence number, PSH and the checksum.
  const bool sameIp =
      layout.ipv6
          ? sameBytes(frame, first, 0, ip + 4) && sameBytes(frame, first, ip + 6, tcp)
          : sameBytes(frame, first, 0, ip + 2) && sameBytes(frame, first, ip + 6, ip + 10) &&
                sameBytes(frame, first, ip + 12, tcp);
  return sameIp && sameBytes(frame, first, tcp + 8, tcp + kTcpFlagsOffset) &&
         (frame[tcp + kTcpFlagsOffset] & ~kTcpPush) == (first[tcp + kTcpFlagsOffset] & ~kTcpPush) &&
         sameBytes(frame, first, tcp + 14, tcp + kTcpChecksumOffset) &&
         sameBytes(frame, first, tcp + 18, layout.payload);
}

void TcpCoalescer::start(Segment* segment, std::span<const std::uint8_t> frame,
                         const TcpLayout& layout) {
  segment->packet.reserve(kMaxJoinedFrame);
  segment->packet.assign(frame.begin(), frame.end());
  segment->layout = layout;
  segment->firstLength = frame.size();
  segment->pieceSize = layout.end - layout.payload;
  segment->pieces = 1;
  segment->nextSequence = common::readBigEndian32(&frame[layout.tcp + kTcpSequenceOffset]) +
                          static_cast<std::uint32_t>(segment->pieceSize);
  segment->closed = (frame[layout.tcp + kTcpFlagsOffset] & kTcpPush) != 0;
  segment->age = started_++;
}

void TcpCoalescer::append(Segment* segment, std::span<const std::uint8_t> frame,
                          const TcpLayout& layout) {
  const std::size_t length = layout.end - layout.payload;
  if (segment->pieces == 1) {
    segment->packet.resize(segment->layout.end);  // the first frame's padding goes
  }
  segment->packet.insert(segment->packet.end(),
                         frame.begin() + static_cast<std::ptrdiff_t>(layout.payload),
                         frame.begin() + static_cast<std::ptrdiff_t>(layout.end));
  segment->layout.end = segment->packet.size();
  ++segment->pieces;
  segment->nextSequence += static_cast<std::uint32_t>(length);
  const std::uint8_t flags = frame[layout.tcp + kTcpFlagsOffset];
  if ((flags & kTcpPush) != 0) {
    segment->packet[segment->layout.tcp + kTcpFlagsOffset] |= kTcpPush;
  }
  segment->closed = length < segment->pieceSize || (flags & kTcpPush) != 0;
}

void TcpCoalescer::flush() {
  // Oldest first: a connection's segments never overtake each other, and between connections
  // the order they started in is kept.
  for (;;) {
    Segment* oldest = nullptr;
    for (Segment& segment : segments_) {
      if (!segment.packet.empty() && (oldest == nullptr || segment.age < oldest->age)) {
        oldest = &segment;
      }
    }
    if (oldest == nullptr) {
      return;
    }
    flush(oldest);
  }
}

void TcpCoalescer::flush(Segment* segment) {
  if (segment->packet.empty()) {
    return;
  }
  const std::span<std::uint8_t> packet(segment->packet);
  if (segment->pieces == 1) {
    sink_(platform::TapOffload{}, packet.first(segment->firstLength));
    segment->packet.clear();
    return;
  }
  const TcpLayout& layout = segment->layout;
  setIpLength(packet, layout, layout.end);
  // The kernel completes the checksum from the pseudo-header's sum, as for a segment it sends;
  // every piece's own checksum held.
  InternetChecksum pseudo;
  addPseudoHeader(packet, layout, layout.end - layout.tcp, &pseudo);
  storeChecksum(packet.data() + layout.tcp + kTcpChecksumOffset, pseudo.folded());
  platform::TapOffload offload;
  offload.segmentation = layout.ipv6 ? Segmentation::kTcp6 : Segmentation::kTcp4;
  offload.segmentSize = static_cast<std::uint16_t>(segment->pieceSize);
  offload.headerLength = static_cast<std::uint16_t>(layout.payload);
  offload.needsChecksum = true;
  offload.checksumStart = static_cast<std::uint16_t>(layout.tcp);
  offload.checksumOffset = static_cast<std::uint16_t>(kTcpChecksumOffset);
  sink_(offload, packet);
  segment->packet.clear();
}

}  // namespace korvane::tools
