#include "tools/kvtap/FrameSplitter.h"

#include <algorithm>

#include "tools/kvtap/InternetChecksum.h"
#include "tools/kvtap/TcpLayout.h"

namespace korvane::tools {
namespace {

using Segmentation = platform::TapOffload::Segmentation;

/// Completes a checksum the kernel left open: the sum over the bytes from its start to the end,
/// with the pseudo-header's sum already in its place. False when the places lie outside.
bool completeChecksum(const platform::TapOffload& offload, std::span<std::uint8_t> frame) {
  const std::size_t field = std::size_t{offload.checksumStart} + offload.checksumOffset;
  if (field + 2 > frame.size() || offload.checksumStart >= frame.size()) {
    return false;
  }
  InternetChecksum sum;
  sum.add(frame.subspan(offload.checksumStart));
  // Zero means "no checksum" to UDP; its complement is the same sum for everything else.
  const std::uint16_t value = sum.value();
  storeChecksum(frame.data() + field, value == 0 ? 0xFFFF : value);
  return true;
}

}  // namespace

bool FrameSplitter::append(const platform::TapOffload& offload,
                           std::span<const std::uint8_t> packet, std::size_t room,
                           std::vector<std::uint8_t>* out, std::vector<FrameSpan>* frames,
                           std::string* err) {
  if (offload.segmentation == Segmentation::kOther) {
    *err = "the TAP device handed over a kind of segment that was not asked for";
    return false;
  }
  if (offload.segmentation != Segmentation::kNone) {
    return appendSegments(offload, packet, room, out, frames, err);
  }
  const std::size_t start = out->size() + room;
  out->resize(start);
  out->insert(out->end(), packet.begin(), packet.end());
  if (offload.needsChecksum && !completeChecksum(offload, std::span(*out).subspan(start))) {
    out->resize(start - room);
    *err = "the TAP device named a checksum place outside its frame";
    return false;
  }
  frames->push_back({start, packet.size()});
  return true;
}

bool FrameSplitter::appendSegments(const platform::TapOffload& offload,
                                   std::span<const std::uint8_t> packet, std::size_t room,
                                   std::vector<std::uint8_t>* out, std::vector<FrameSpan>* frames,
                                   std::string* err) {
  const auto layout = findTcpLayout(packet, std::size_t{offload.checksumStart});
  const bool ipv6 = offload.segmentation == Segmentation::kTcp6;
  if (!offload.needsChecksum || !layout || layout->ipv6 != ipv6 || offload.segmentSize == 0) {
    *err = "the TAP device handed over a TCP segment whose headers do not match its offload";
    return false;
  }
  const std::size_t headers = layout->payload;
  const std::size_t payload = layout->end - headers;
  const std::size_t pieceSize = offload.segmentSize;
  const std::uint32_t sequence = common::readBigEndian32(&packet[layout->tcp + kTcpSequenceOffset]);
  const std::uint16_t firstId = layout->ipv6 ? 0 : readBig16(&packet[layout->ip + 4]);
  const std::uint8_t flags = packet[layout->tcp + kTcpFlagsOffset];
  const std::size_t pieces = std::max<std::size_t>(1, (payload + pieceSize - 1) / pieceSize);
  for (std::size_t i = 0; i < pieces; ++i) {
    const std::size_t from = headers + i * pieceSize;
    const std::size_t length = std::min(pieceSize, layout->end - from);
    const std::size_t start = out->size() + room;
    out->resize(start);
    out->insert(out->end(), packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(headers));
    out->insert(out->end(), packet.begin() + static_cast<std::ptrdiff_t>(from),
                packet.begin() + static_cast<std::ptrdiff_t>(from + length));
    const std::span<std::uint8_t> frame = std::span(*out).subspan(start);
    const std::size_t end = headers + length;
    if (!layout->ipv6) {
      writeBig16(&frame[layout->ip + 4], static_cast<std::uint16_t>(firstId + i));
    }
    setIpLength(frame, *layout, end);
    std::uint8_t* tcp = frame.data() + layout->tcp;
    common::writeBigEndian32(tcp + kTcpSequenceOffset,
                             static_cast<std::uint32_t>(sequence + i * pieceSize));
    // FIN and PSH belong to the last piece, CWR to the first, as the kernel cuts segments.
    std::uint8_t pieceFlags = flags;
    if (i + 1 < pieces) {
      pieceFlags &= static_cast<std::uint8_t>(~(kTcpFin | kTcpPush));
    }
    if (i > 0) {
      pieceFlags &= static_cast<std::uint8_t>(~kTcpCwr);
    }
    tcp[kTcpFlagsOffset] = pieceFlags;
    setTcpChecksum(frame, *layout, end);
    frames->push_back({start, end});
  }
  return true;
}

}  // namespace korvane::tools
