#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane::hub {

/// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence, for the fixed-size
/// fields of log lines and the connection list.
inline std::string_view cutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) {
    return text;
  }
  std::size_t end = limit;
  while (end > 0 && (static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end);
}

}  // namespace korvane::hub
