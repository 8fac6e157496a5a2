#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/TapDevice.h"
#include "tools/kvtap/TcpLayout.h"

namespace korvane::tools {

/// Joins consecutive frames of one TCP connection into one segment of up to 64 KiB for a TAP
/// device with offloads, as a network card's receive offload does, so that the kernel takes one
/// packet where the link carried dozens. Only segments that a link could have carried in a row
/// join: the same headers but for lengths, sequence numbers and checksums, the next sequence
/// number, no flag but ACK (PSH ends a segment), every piece of the same size but the last, and
/// a TCP checksum that holds (a frame whose checksum is wrong passes alone, for the kernel to
/// drop). Every other frame passes as it came, in order.
class TcpCoalescer {
 public:
  /// Where packets go: a plain frame (an offload of kNone) or a joined segment.
  using Sink =
      std::function<void(const platform::TapOffload& offload, std::span<const std::uint8_t>)>;

  explicit TcpCoalescer(Sink sink);

  /// Takes the next frame; hands on what can no longer grow.
  void add(std::span<const std::uint8_t> frame);

  /// Hands on the segment being joined, if any: call it when no further frame is ready, so
  /// that nothing waits for a frame that may not come.
  void flush();

 private:
  bool joins(std::span<const std::uint8_t> frame, const TcpLayout& layout) const;
  void start(std::span<const std::uint8_t> frame, const TcpLayout& layout);

  Sink sink_;
  std::vector<std::uint8_t> packet_;  // the segment being joined; empty when none
  TcpLayout layout_;                  // of packet_, its end growing with each piece
  std::size_t firstLength_ = 0;       // the first frame's length, padding included
  std::size_t pieceSize_ = 0;         // payload bytes of the first piece
  std::size_t pieces_ = 0;
  std::uint32_t nextSequence_ = 0;
  bool closed_ = false;  // a short piece or PSH came: nothing may follow
};

}  // namespace korvane::tools
