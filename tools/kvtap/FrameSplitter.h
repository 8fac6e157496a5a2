#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/TapDevice.h"

namespace korvane::tools {

/// Where one frame lies in a buffer.
struct FrameSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};

/// Turns the packets that a TAP device with offloads hands over into the ordinary Ethernet
/// frames a link would carry: it completes checksums the kernel left open, and cuts a TCP
/// segment of up to 64 KiB into segments of the size the kernel chose for the link's MTU, each
/// with its own headers, sequence number and checksums, as a network card would. A packet
/// without offloads passes as it is.
class FrameSplitter {
 public:
  /// Appends the frames of `packet` to `out`, each after `room` bytes left free for the caller
  /// (a record header), and their places to `frames`. False with a message in `err`, appending
  /// nothing, when the packet's offload does not fit its bytes (a kind of segmentation that was
  /// never asked for, headers that are cut short, a checksum place outside the packet).
  [[nodiscard]] bool append(const platform::TapOffload& offload,
                            std::span<const std::uint8_t> packet, std::size_t room,
                            std::vector<std::uint8_t>* out, std::vector<FrameSpan>* frames,
                            std::string* err);

 private:
  bool appendSegments(const platform::TapOffload& offload, std::span<const std::uint8_t> packet,
                      std::size_t room, std::vector<std::uint8_t>* out,
                      std::vector<FrameSpan>* frames, std::string* err);
};

}  // namespace korvane::tools
