#include "common/ControlMessage.h"

#include <cassert>
#include <cstdio>

namespace korvane::common {

void putWord(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  assert(offset + kControlWordSize <= bytes.size() && "a word beyond the message");
  for (std::size_t i = 0; i < kControlWordSize; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t wordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  assert(offset + kControlWordSize <= bytes.size() && "a word beyond the message");
  std::uint32_t value = 0;
  for (std::size_t i = kControlWordSize; i-- > 0;) {
    value = (value << 8) | bytes[offset + i];
  }
  return value;
}

std::array<std::uint8_t, kControlHeaderSize> encodeControlHeader(const ControlHeader& header) {
  std::array<std::uint8_t, kControlHeaderSize> bytes{};
  putWord(bytes, 0, header.magic);
  putWord(bytes, 4, header.length);
  putWord(bytes, 8, header.command);
  putWord(bytes, 12, header.parameter);
  return bytes;
}

ControlHeader decodeControlHeader(std::span<const std::uint8_t, kControlHeaderSize> bytes) {
  return ControlHeader{wordAt(bytes, 0), wordAt(bytes, 4), wordAt(bytes, 8), wordAt(bytes, 12)};
}

std::string hubPipeName(int hubNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "KVHUB_%04d", hubNumber);
  return name;
}

}  // namespace korvane::common
