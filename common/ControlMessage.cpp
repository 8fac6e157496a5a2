#include "common/ControlMessage.h"

#include <cstdio>

namespace korvane::common {
namespace {

void putWord(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t getWord(const std::uint8_t* in) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | in[i];
  }
  return value;
}

}  // namespace

std::array<std::uint8_t, kControlHeaderSize> encodeControlHeader(const ControlHeader& header) {
  std::array<std::uint8_t, kControlHeaderSize> bytes{};
  putWord(&bytes[0], header.magic);
  putWord(&bytes[4], header.length);
  putWord(&bytes[8], header.command);
  putWord(&bytes[12], header.parameter);
  return bytes;
}

ControlHeader decodeControlHeader(std::span<const std::uint8_t, kControlHeaderSize> bytes) {
  return ControlHeader{getWord(&bytes[0]), getWord(&bytes[4]), getWord(&bytes[8]),
                       getWord(&bytes[12])};
}

std::string hubPipeName(int hubNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "KVHUB_%04d", hubNumber);
  return name;
}

}  // namespace korvane::common
