#include "common/PortListRecord.h"

#include <algorithm>
#include <cstring>

namespace korvane::common {
namespace {

constexpr std::size_t kStateOffset = 0;
constexpr std::size_t kLogNameOffset = 4;
constexpr std::size_t kAddressOffset = 260;
constexpr std::size_t kGuestOffset = 388;
constexpr std::size_t kAccountOffset = 392;
constexpr std::size_t kSentOffset = 520;
constexpr std::size_t kReceivedOffset = 524;

void putInt(std::uint8_t* out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
}

std::int32_t getInt(const std::uint8_t* in) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) {
    bits = (bits << 8) | in[i];
  }
  return static_cast<std::int32_t>(bits);
}

void putText(std::uint8_t* out, std::size_t fieldSize, const std::string& text) {
  const std::size_t length = std::min(text.size(), fieldSize - 1);
  std::memcpy(out, text.data(), length);
}

std::string getText(const std::uint8_t* in, std::size_t fieldSize) {
  const auto* end = std::find(in, in + fieldSize, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(in), static_cast<std::size_t>(end - in));
}

}  // namespace

void encodePortListRecord(const PortListEntry& entry,
                          std::span<std::uint8_t, kPortListRecordSize> out) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  putInt(&out[kStateOffset], entry.state);
  putText(&out[kLogNameOffset], kLogNameFieldSize, entry.logName);
  putText(&out[kAddressOffset], kAddressFieldSize, entry.address);
  putInt(&out[kGuestOffset], entry.guest);
  putText(&out[kAccountOffset], kAccountFieldSize, entry.account);
  putInt(&out[kSentOffset], entry.kilobytesSent);
  putInt(&out[kReceivedOffset], entry.kilobytesReceived);
}

PortListEntry decodePortListRecord(std::span<const std::uint8_t, kPortListRecordSize> in) {
  PortListEntry entry;
  entry.state = getInt(&in[kStateOffset]);
  entry.logName = getText(&in[kLogNameOffset], kLogNameFieldSize);
  entry.address = getText(&in[kAddressOffset], kAddressFieldSize);
  entry.guest = getInt(&in[kGuestOffset]);
  entry.account = getText(&in[kAccountOffset], kAccountFieldSize);
  entry.kilobytesSent = getInt(&in[kSentOffset]);
  entry.kilobytesReceived = getInt(&in[kReceivedOffset]);
  return entry;
}

}  // namespace korvane::common
