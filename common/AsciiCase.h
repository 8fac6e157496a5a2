#pragma once

#include <algorithm>
#include <string>
#include <string_view>

/// Letter case of ASCII text only: the keywords and names of the files and of the CSV exchange
/// compare without case for the letters A to Z, and every other byte (UTF-8 included) exactly.
namespace korvane::common {

/// `c` with A to Z lowered; every other byte as it is.
constexpr char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// `text` with A to Z lowered.
inline std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return lowerAscii(c); });
  return lower;
}

/// Whether `a` and `b` are equal when A to Z count as a to z.
constexpr bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

}  // namespace korvane::common
