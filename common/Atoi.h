#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

namespace korvane::common {

/// The leading decimal number of `text` the way C's strtoll reads it: blanks (space, tab, line
/// feed, vertical tab, form feed, carriage return) are skipped, one '+' or '-' is taken, then
/// digits up to the first other character; 0 when there are no digits. A number beyond
/// `lowest`..`highest` is clamped to that range instead of overflowing.
constexpr std::int64_t leadingDecimal(std::string_view text, std::int64_t lowest,
                                      std::int64_t highest) {
  // One past INT64_MAX, so that INT64_MIN is reached exactly.
  constexpr std::uint64_t kMagnitudeLimit = std::uint64_t{INT64_MAX} + 1;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    magnitude =
        magnitude > (kMagnitudeLimit - digit) / 10 ? kMagnitudeLimit : magnitude * 10 + digit;
  }
  if (negative) {
    const std::uint64_t lowestMagnitude = static_cast<std::uint64_t>(-(lowest + 1)) + 1;
    return magnitude >= lowestMagnitude ? lowest : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude > static_cast<std::uint64_t>(highest) ? highest
                                                         : static_cast<std::int64_t>(magnitude);
}

/// Reads a decimal number the way C's atoi does (see leadingDecimal). Where atoi's result is
/// undefined, for a number beyond the 32-bit range, the result is clamped to INT_MIN..INT_MAX.
constexpr int atoiLike(std::string_view text) {
  return static_cast<int>(leadingDecimal(text, INT_MIN, INT_MAX));
}

/// Reads a decimal number the way C's strtoll does (see leadingDecimal), clamped to the 64-bit
/// range instead of overflowing.
constexpr std::int64_t strtollLike(std::string_view text) {
  return leadingDecimal(text, INT64_MIN, INT64_MAX);
}

}  // namespace korvane::common
