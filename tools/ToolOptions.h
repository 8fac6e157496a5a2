#pragma once

#include <charconv>
#include <string>

// What the command-line tools share in reading their options. Header only: each tool's sources
// are compiled straight into its program.
namespace korvane::tools {

/// Reads `text` as a whole decimal number from `low` to `high` into `value`; false, with `value`
/// unchanged, for an empty text, any other character or a number outside the range.
[[nodiscard]] inline bool parseIntInRange(const std::string& text, int low, int high, int* value) {
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace korvane::tools
