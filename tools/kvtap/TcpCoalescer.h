#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/TapDevice.h"
#include "tools/kvtap/TcpLayout.h"

namespace korvane::tools {

/// TCP connections whose segments are joined at once: more than the streams of one host usually
/// take turns on a link, as many as a network card's receive offload keeps per queue.
inline constexpr std::size_t kJoinedConnections = 8;

/// Joins consecutive frames of one TCP connection into one segment of up to 64 KiB for a TAP
/// device with offloads, as a network card's receive offload does, so that the kernel takes one
/// packet where the link carried dozens. Only segments that a link could have carried in a row
/// join: the same headers but for lengths, sequence numbers and checksums, the next sequence
/// number, no flag but ACK (PSH ends a segment), every piece of the same size but the last, and
/// a TCP checksum that holds (a frame whose checksum is wrong passes alone, for the kernel to
/// drop). Every other frame passes as it came, in order. Up to kJoinedConnections connections
/// are joined at once, so that streams that take turns on the link each still join; frames of
/// one connection keep their order, and a frame that cannot join hands on everything first.
class TcpCoalescer {
 public:
  /// Where packets go: a plain frame (an offload of kNone) or a joined segment.
  using Sink =
      std::function<void(const platform::TapOffload& offload, std::span<const std::uint8_t>)>;

  explicit TcpCoalescer(Sink sink);

  /// Takes the next frame; hands on what can no longer grow.
  void add(std::span<const std::uint8_t> frame);

  /// Hands on the segments being joined, if any: call it when no further frame is ready, so
  /// that nothing waits for a frame that may not come.
  void flush();

 private:
  /// One connection's segment being joined.
  struct Segment {
    std::vector<std::uint8_t> packet;  // empty when the slot is free
    TcpLayout layout;                  // of packet, its end growing with each piece
    std::size_t firstLength = 0;       // the first frame's length, padding included
    std::size_t pieceSize = 0;         // payload bytes of the first piece
    std::size_t pieces = 0;
    std::uint32_t nextSequence = 0;
    bool closed = false;    // a short piece or PSH came: nothing may follow
    std::uint64_t age = 0;  // when it was started, to free the oldest slot first
  };

  static bool sameConnection(const Segment& segment, std::span<const std::uint8_t> frame,
                             const TcpLayout& layout);
  static bool joins(const Segment& segment, std::span<const std::uint8_t> frame,
                    const TcpLayout& layout);
  void start(Segment* segment, std::span<const std::uint8_t> frame, const TcpLayout& layout);
  static void append(Segment* segment, std::span<const std::uint8_t> frame,
                     const TcpLayout& layout);
  void flush(Segment* segment);

  Sink sink_;
  std::vector<Segment> segments_;
  std::uint64_t started_ = 0;  // segments started so far
};

}  // namespace korvane::tools
