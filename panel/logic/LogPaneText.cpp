#include "panel/logic/LogPaneText.h"

#include <cstdint>
#include <optional>

namespace korvane::panel {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

// The length of the UTF-8 sequence that `lead` starts, 0 for a byte that starts none.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    return 2;
  }
  if ((lead & 0xF0) == 0xE0) {
    return 3;
  }
  if ((lead & 0xF8) == 0xF0) {
    return 4;
  }
  return 0;
}

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The code point of the complete sequence at the start of `bytes` (of `length` bytes), or
// nothing when it is malformed: a missing continuation, an overlong form, a surrogate, or a
// value above U+10FFFF.
std::optional<char32_t> decodeSequence(std::string_view bytes, std::size_t length) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t value = static_cast<unsigned char>(bytes[0]) & kLeadMask[length];
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (!isContinuation(byte)) {
      return std::nullopt;
    }
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  return value;
}

void appendCodePoint(char32_t value, std::u16string* out) {
  if (value < 0x10000) {
    out->push_back(static_cast<char16_t>(value));
    return;
  }
  value -= 0x10000;
  out->push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
  out->push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
}

// True when `tail` is the start of a character that the next piece may complete.
bool isUnfinishedSequence(std::string_view tail) {
  const std::size_t length = sequenceLength(static_cast<unsigned char>(tail[0]));
  if (length <= tail.size()) {
    return false;
  }
  for (std::size_t i = 1; i < tail.size(); ++i) {
    if (!isContinuation(static_cast<unsigned char>(tail[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool LogPaneText::follow(HubLogReader& reader) {
  bool changed = false;
  for (int piece = 0; piece < kPiecesPerTick; ++piece) {
    const std::string bytes = reader.read(kPieceBytes);
    if (bytes.empty()) {
      break;
    }
    append(bytes);
    changed = true;
  }
  return changed;
}

void LogPaneText::append(std::string_view bytes) {
  const std::string data = carry_ + std::string(bytes);
  carry_.clear();
  std::size_t at = 0;
  while (at < data.size()) {
    const std::string_view rest = std::string_view(data).substr(at);
    if (isUnfinishedSequence(rest)) {
      carry_ = rest;
      break;
    }
    const std::size_t length = sequenceLength(static_cast<unsigned char>(rest[0]));
    const std::optional<char32_t> value =
        length == 0 || length > rest.size() ? std::nullopt : decodeSequence(rest, length);
    if (!value) {
      text_.push_back(kReplacement);
      ++at;
      continue;
    }
    if (*value != U'\r') {
      appendCodePoint(*value, &text_);
    }
    at += length;
  }
  if (text_.size() < kTextLimit) {
    return;
  }
  // The kept text starts with a whole line: after the first line feed that leaves fewer than
  // kTextLimit characters.
  const std::size_t lineFeed = text_.find(u'\n', text_.size() - kTextLimit);
  text_.erase(0, lineFeed == std::u16string::npos ? text_.size() : lineFeed + 1);
}

}  // namespace korvane::panel
