#include "common/DottedAddress.h"

#include <array>
#include <cstdio>

namespace korvane::common {
namespace {

/// An address has at most four dotted parts.
constexpr std::size_t kMaxParts = 4;
/// Digits and largest value of one number of a dotted quad.
constexpr std::size_t kMaxQuadDigits = 3;
constexpr int kMaxQuadValue = 255;

/// Whether a dotted quad may leave a number out: the filter file's reading takes it as 0.
enum class EmptyNumbers { kZero, kRefused };

bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// One number of the dotted form, starting at `*position`; std::nullopt when it does not start
// with a digit, holds a digit of the wrong base or leaves 32 bits.
std::optional<std::uint64_t> readPart(std::string_view text, std::size_t* position) {
  std::size_t i = *position;
  if (i >= text.size() || text[i] < '0' || text[i] > '9') {
    return std::nullopt;
  }
  int base = 10;
  if (text[i] == '0') {
    ++i;
    base = 8;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
      base = 16;
      ++i;
    }
  }
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = digitValue(text[i]);
    if (digit < 0 || (base == 10 && digit > 9)) {
      break;
    }
    if (base == 8 && digit > 7) {
      return std::nullopt;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFF) {
      return std::nullopt;
    }
  }
  *position = i;
  return value;
}

// One number of a dotted quad; an empty one is 0 when `empty` allows it.
std::optional<std::uint8_t> parseQuadNumber(std::string_view digits, EmptyNumbers empty) {
  if (digits.size() > kMaxQuadDigits || (digits.empty() && empty == EmptyNumbers::kRefused)) {
    return std::nullopt;
  }
  int value = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') {
      return std::nullopt;
    }
    value = value * 10 + (digit - '0');
  }
  if (value > kMaxQuadValue) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

std::optional<Ipv4Address> parseQuad(std::string_view text, EmptyNumbers empty) {
  Ipv4Address address{};
  for (std::size_t i = 0; i < address.size(); ++i) {
    const std::size_t dot = text.find('.');
    const bool last = i + 1 == address.size();
    // Exactly three dots: one behind each of the first three numbers, none behind the last.
    if (last != (dot == std::string_view::npos)) {
      return std::nullopt;
    }
    const std::optional<std::uint8_t> number = parseQuadNumber(text.substr(0, dot), empty);
    if (!number) {
      return std::nullopt;
    }
    address[i] = *number;
    text.remove_prefix(last ? text.size() : dot + 1);
  }
  return address;
}

}  // namespace

std::optional<std::uint32_t> parseInetAddress(std::string_view text) {
  std::array<std::uint64_t, kMaxParts> parts{};
  std::size_t count = 0;
  std::size_t position = 0;
  while (true) {
    const std::optional<std::uint64_t> part = readPart(text, &position);
    if (!part || count == kMaxParts) {
      return std::nullopt;
    }
    parts[count++] = *part;
    if (position < text.size() && text[position] == '.') {
      ++position;
      continue;
    }
    break;
  }
  if (position < text.size() && !isBlank(text[position])) {
    return std::nullopt;
  }
  // The last part fills the bytes that the parts before it leave; every earlier part is one byte.
  const int lastBits = 8 * static_cast<int>(kMaxParts - count + 1);
  const std::uint64_t lastLimit = lastBits >= 32 ? 0xFFFFFFFF : (std::uint64_t{1} << lastBits) - 1;
  if (parts[count - 1] > lastLimit) {
    return std::nullopt;
  }
  std::uint32_t address = 0;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) {
      return std::nullopt;
    }
    address |= static_cast<std::uint32_t>(parts[i]) << (24 - 8 * i);
  }
  return address | static_cast<std::uint32_t>(parts[count - 1]);
}

std::string dottedText(std::uint32_t address) {
  // "255.255.255.255" and its terminating zero.
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                static_cast<int>(address & 0xFF));
  return text;
}

std::optional<Ipv4Address> parseDottedQuad(std::string_view text) {
  return parseQuad(text, EmptyNumbers::kZero);
}

std::optional<Ipv4Address> parseIpv4Address(std::string_view text, std::string* err) {
  std::optional<Ipv4Address> address = parseQuad(text, EmptyNumbers::kRefused);
  if (!address) {
    *err = "\"" + std::string(text) +
           "\" is not an IPv4 address: four numbers from 0 to 255 separated by dots are expected";
  }
  return address;
}

std::string formatIpv4Address(const Ipv4Address& address) {
  return dottedText(std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
                    std::uint32_t{address[2]} << 8 | address[3]);
}

}  // namespace korvane::common
