#include "common/Utf16.h"

#include <cstdint>

namespace korvane::common {

namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
// Code points above this need a surrogate pair in UTF-16.
constexpr char32_t kLastSingleUnit = 0xFFFF;

bool isHighSurrogate(char32_t unit) {
  return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}

bool isLowSurrogate(char32_t unit) {
  return unit >= kLowSurrogateFirst && unit <= kSurrogateLast;
}

bool isContinuation(std::uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

/// One code point decoded from the front of a UTF-8 text, with the number of bytes it took;
/// std::nullopt for an invalid sequence.
struct Decoded {
  char32_t codePoint;
  std::size_t length;
};

std::optional<Decoded> decodeOne(std::string_view text) {
  const auto lead = static_cast<std::uint8_t>(text[0]);
  if (lead < 0x80) {
    return Decoded{lead, 1};
  }
  std::size_t length = 0;
  char32_t codePoint = 0;
  char32_t smallest = 0;  // below this the form is overlong
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1F;
    smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0F;
    smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07;
    smallest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (!isContinuation(byte)) {
      return std::nullopt;
    }
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  if (codePoint < smallest || codePoint > kLastCodePoint) {
    return std::nullopt;
  }
  if (codePoint >= kHighSurrogateFirst && codePoint <= kSurrogateLast) {
    return std::nullopt;
  }
  return Decoded{codePoint, length};
}

void appendUtf16(std::u16string& out, char32_t codePoint) {
  if (codePoint <= kLastSingleUnit) {
    out.push_back(static_cast<char16_t>(codePoint));
    return;
  }
  const char32_t offset = codePoint - 0x10000;
  out.push_back(static_cast<char16_t>(kHighSurrogateFirst + (offset >> 10)));
  out.push_back(static_cast<char16_t>(kLowSurrogateFirst + (offset & 0x3FF)));
}

void appendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

}  // namespace

std::optional<std::u16string> utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const std::optional<Decoded> decoded = decodeOne(utf8);
    if (!decoded) {
      return std::nullopt;
    }
    appendUtf16(out, decoded->codePoint);
    utf8.remove_prefix(decoded->length);
  }
  return out;
}

std::optional<std::string> utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char32_t unit = utf16[i];
    if (isLowSurrogate(unit)) {
      return std::nullopt;
    }
    if (!isHighSurrogate(unit)) {
      appendUtf8(out, unit);
      continue;
    }
    if (i + 1 == utf16.size() || !isLowSurrogate(utf16[i + 1])) {
      return std::nullopt;
    }
    const char32_t low = utf16[++i];
    appendUtf8(out, 0x10000 + ((unit - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst));
  }
  return out;
}

}  // namespace korvane::common
