#include "common/PortListRecord.h"

#include <algorithm>
#include <cstring>

#include "common/ControlMessage.h"

namespace korvane::common {
namespace {

constexpr std::size_t kStateOffset = 0;
constexpr std::size_t kLogNameOffset = 4;
constexpr std::size_t kAddressOffset = 260;
constexpr std::size_t kGuestOffset = 388;
constexpr std::size_t kAccountOffset = 392;
constexpr std::size_t kSentOffset = 520;
constexpr std::size_t kReceivedOffset = 524;

// The record's numbers are signed 32-bit words of the control pipe.
void putInt(std::span<std::uint8_t> out, std::size_t offset, std::int32_t value) {
  putWord(out, offset, static_cast<std::uint32_t>(value));
}

std::int32_t intAt(std::span<const std::uint8_t> in, std::size_t offset) {
  return static_cast<std::int32_t>(wordAt(in, offset));
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
  putInt(out, kStateOffset, entry.state);
  putText(&out[kLogNameOffset], kLogNameFieldSize, entry.logName);
  putText(&out[kAddressOffset], kAddressFieldSize, entry.address);
  putInt(out, kGuestOffset, entry.guest);
  putText(&out[kAccountOffset], kAccountFieldSize, entry.account);
  putInt(out, kSentOffset, entry.kilobytesSent);
  putInt(out, kReceivedOffset, entry.kilobytesReceived);
}

PortListEntry decodePortListRecord(std::span<const std::uint8_t, kPortListRecordSize> in) {
  PortListEntry entry;
  entry.state = intAt(in, kStateOffset);
  entry.logName = getText(&in[kLogNameOffset], kLogNameFieldSize);
  entry.address = getText(&in[kAddressOffset], kAddressFieldSize);
  entry.guest = intAt(in, kGuestOffset);
  entry.account = getText(&in[kAccountOffset], kAccountFieldSize);
  entry.kilobytesSent = intAt(in, kSentOffset);
  entry.kilobytesReceived = intAt(in, kReceivedOffset);
  return entry;
}

}  // namespace korvane::common
