#include "tools/kvbench/BenchFrames.h"

#include <algorithm>

namespace korvane::tools {
namespace {

constexpr std::size_t kEtherTypeOffset = 12;
constexpr std::size_t kSequenceOffset = 14;

}  // namespace

MacAddress benchMac(int run, int client) {
  return {0x52,
          0x54,
          0xBE,
          static_cast<std::uint8_t>(run),
          static_cast<std::uint8_t>(client >> 8),
          static_cast<std::uint8_t>(client)};
}

std::vector<std::uint8_t> makeBenchFrame(std::size_t size, const MacAddress& destination,
                                         const MacAddress& source, std::uint16_t etherType,
                                         std::uint32_t sequence) {
  std::vector<std::uint8_t> frame(std::max(size, kMinBenchFrame), 0);
  std::copy(destination.begin(), destination.end(), frame.begin());
  std::copy(source.begin(), source.end(), frame.begin() + 6);
  frame[kEtherTypeOffset] = static_cast<std::uint8_t>(etherType >> 8);
  frame[kEtherTypeOffset + 1] = static_cast<std::uint8_t>(etherType);
  setSequence(frame, sequence);
  return frame;
}

void setSequence(std::span<std::uint8_t> frame, std::uint32_t sequence) {
  if (frame.size() < kMinBenchFrame) {
    return;
  }
  for (int i = 0; i < 4; ++i) {
    frame[kSequenceOffset + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
  }
}

std::uint16_t etherTypeOf(std::span<const std::uint8_t> frame) {
  if (frame.size() < kEtherTypeOffset + 2) {
    return 0;
  }
  return static_cast<std::uint16_t>((frame[kEtherTypeOffset] << 8) | frame[kEtherTypeOffset + 1]);
}

std::uint32_t sequenceOf(std::span<const std::uint8_t> frame) {
  if (frame.size() < kMinBenchFrame) {
    return 0;
  }
  std::uint32_t sequence = 0;
  for (int i = 0; i < 4; ++i) {
    sequence = (sequence << 8) | frame[kSequenceOffset + i];
  }
  return sequence;
}

}  // namespace korvane::tools
