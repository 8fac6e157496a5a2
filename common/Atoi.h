#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

namespace korvane::common {

/// Reads a decimal number the way C's atoi does: blanks (space, tab, line feed, vertical tab,
/// form feed, carriage return) are skipped, one '+' or '-' is taken, then digits up to the first
/// other character; 0 when there are no digits. Where atoi's result is undefined, for a number
/// beyond the 32-bit range, the result is clamped to INT_MIN..INT_MAX.
constexpr int atoiLike(std::string_view text) {
  // One past INT_MAX, so that "-2147483648" reaches INT_MIN exactly.
  constexpr std::int64_t kMagnitudeLimit = std::int64_t{INT_MAX} + 1;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kMagnitudeLimit) {
      magnitude = kMagnitudeLimit;
    }
  }
  if (negative) {
    return static_cast<int>(-magnitude);
  }
  return static_cast<int>(magnitude > INT_MAX ? std::int64_t{INT_MAX} : magnitude);
}

}  // namespace korvane::common
