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

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
               std::size_t from, std::size_t to) {
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

TcpCoalescer::TcpCoalescer(Sink sink) : sink_(std::move(sink)) {
  packet_.reserve(kMaxJoinedFrame);
}

void TcpCoalescer::add(std::span<const std::uint8_t> frame) {
  const auto layout = joinableLayout(frame);
  const bool valid = layout && (layout->ipv6 || ipv4HeaderHolds(frame, *layout)) &&
                     tcpChecksumHolds(frame, *layout);
  if (!valid) {
    flush();
    sink_(platform::TapOffload{}, frame);
    return;
  }
  if (packet_.empty() || !joins(frame, *layout)) {
    flush();
    start(frame, *layout);
    return;
  }
  const std::size_t length = layout->end - layout->payload;
  if (pieces_ == 1) {
    packet_.resize(layout_.end);  // the first frame's padding goes
  }
  packet_.insert(packet_.end(), frame.begin() + static_cast<std::ptrdiff_t>(layout->payload),
                 frame.begin() + static_cast<std::ptrdiff_t>(layout->end));
  layout_.end = packet_.size();
  ++pieces_;
  nextSequence_ += static_cast<std::uint32_t>(length);
  const std::uint8_t flags = frame[layout->tcp + kTcpFlagsOffset];
  if ((flags & kTcpPush) != 0) {
    packet_[layout_.tcp + kTcpFlagsOffset] |= kTcpPush;
  }
  closed_ = length < pieceSize_ || (flags & kTcpPush) != 0;
}

bool TcpCoalescer::joins(std::span<const std::uint8_t> frame, const TcpLayout& layout) const {
  if (closed_ || layout.ipv6 != layout_.ipv6 || layout.ip != layout_.ip ||
      layout.payload != layout_.payload) {
    return false;
  }
  const std::size_t length = layout.end - layout.payload;
  if (length > pieceSize_ || packet_.size() + length > kMaxJoinedFrame ||
      layout_.end + length - layout_.ip > kMaxIpLength + (layout.ipv6 ? kIpv6HeaderSize : 0) ||
      readBig32(&frame[layout.tcp + kTcpSequenceOffset]) != nextSequence_) {
    return false;
  }
  const std::span<const std::uint8_t> first(packet_);
  const std::size_t ip = layout.ip;
  const std::size_t tcp = layout.tcp;
  // The link and IP headers but for lengths, identification and checksum; the TCP header but
  // for the sequence number, PSH and the checksum.
  const bool sameIp = layout.ipv6 ? sameBytes(frame, first, 0, ip + 4) &&
                                        sameBytes(frame, first, ip + 6, tcp)
                                  : sameBytes(frame, first, 0, ip + 2) &&
                                        sameBytes(frame, first, ip + 6, ip + 10) &&
                                        sameBytes(frame, first, ip + 12, tcp);
  return sameIp && sameBytes(frame, first, tcp, tcp + kTcpSequenceOffset) &&
         sameBytes(frame, first, tcp + 8, tcp + kTcpFlagsOffset) &&
         (frame[tcp + kTcpFlagsOffset] & ~kTcpPush) == (first[tcp + kTcpFlagsOffset] & ~kTcpPush) &&
         sameBytes(frame, first, tcp + 14, tcp + kTcpChecksumOffset) &&
         sameBytes(frame, first, tcp + 18, layout.payload);
}

void TcpCoalescer::start(std::span<const std::uint8_t> frame, const TcpLayout& layout) {
  packet_.assign(frame.begin(), frame.end());
  layout_ = layout;
  firstLength_ = frame.size();
  pieceSize_ = layout.end - layout.payload;
  pieces_ = 1;
  nextSequence_ =
      readBig32(&frame[layout.tcp + kTcpSequenceOffset]) + static_cast<std::uint32_t>(pieceSize_);
  closed_ = (frame[layout.tcp + kTcpFlagsOffset] & kTcpPush) != 0;
}

void TcpCoalescer::flush() {
  if (packet_.empty()) {
    return;
  }
  if (pieces_ == 1) {
    sink_(platform::TapOffload{}, std::span(packet_).first(firstLength_));
    packet_.clear();
    return;
  }
  const std::span<std::uint8_t> packet(packet_);
  setIpLength(packet, layout_, layout_.end);
  // The kernel completes the checksum from the pseudo-header's sum, as for a segment it sends;
  // every piece's own checksum held.
  InternetChecksum pseudo;
  addPseudoHeader(packet, layout_, layout_.end - layout_.tcp, &pseudo);
  storeChecksum(packet.data() + layout_.tcp + kTcpChecksumOffset, pseudo.folded());
  platform::TapOffload offload;
  offload.segmentation = layout_.ipv6 ? Segmentation::kTcp6 : Segmentation::kTcp4;
  offload.segmentSize = static_cast<std::uint16_t>(pieceSize_);
  offload.headerLength = static_cast<std::uint16_t>(layout_.payload);
  offload.needsChecksum = true;
  offload.checksumStart = static_cast<std::uint16_t>(layout_.tcp);
  offload.checksumOffset = static_cast<std::uint16_t>(kTcpChecksumOffset);
  sink_(offload, packet);
  packet_.clear();
}

}  // namespace korvane::tools
