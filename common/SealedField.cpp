#include "common/SealedField.h"

#include <algorithm>
#include <span>

#include "common/Utf16.h"

namespace korvane::common {

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

/// The value of one hexadecimal digit; 0 for anything that is not 0-9 or A-F, so that a damaged
/// field unseals to a different text instead of failing.
std::uint8_t digitValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return static_cast<std::uint8_t>(digit - '0');
  }
  if (digit >= 'A' && digit <= 'F') {
    return static_cast<std::uint8_t>(digit - 'A' + 10);
  }
  return 0;
}

/// The digit at `index`, or '0' when the text is shorter.
char digitAt(std::string_view digits, std::size_t index) {
  return index < digits.size() ? digits[index] : '0';
}

/// Fills `bytes` from the front of `digits`, two digits per byte.
void decodeDigits(std::string_view digits, std::span<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t high = digitValue(digitAt(digits, 2 * i));
    const std::uint8_t low = digitValue(digitAt(digits, 2 * i + 1));
    bytes[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
}

std::string encodeDigits(std::span<const std::uint8_t> bytes) {
  std::string digits;
  digits.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    digits.push_back(kUpperHexDigits[byte >> 4]);
    digits.push_back(kUpperHexDigits[byte & 0x0F]);
  }
  return digits;
}

}  // namespace

TextBlock textBlockOf(std::u16string_view text) {
  TextBlock block{};
  const std::size_t units = std::min(text.size(), kSealedTextUnits);
  for (std::size_t i = 0; i < units; ++i) {
    block[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
    block[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  return block;
}

std::u16string textOfBlock(const TextBlock& block) {
  std::u16string text;
  for (std::size_t i = 0; i < kSealedTextUnits; ++i) {
    const auto unit = static_cast<char16_t>(block[2 * i] | (block[2 * i + 1] << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

std::optional<std::string> sealText(std::u16string_view text) {
  TextBlock block = textBlockOf(text);
  if (!aes128EncryptEcb(kSealingKey, block)) {
    return std::nullopt;
  }
  return encodeDigits(block);
}

std::optional<std::u16string> unsealText(std::string_view digits) {
  TextBlock block{};
  decodeDigits(digits, block);
  if (!aes128DecryptEcb(kSealingKey, block)) {
    return std::nullopt;
  }
  return textOfBlock(block);
}

std::optional<std::string> sealUtf8Text(std::string_view text) {
  const std::optional<std::u16string> wide = utf8ToUtf16(text);
  if (!wide) {
    return std::nullopt;
  }
  return sealText(*wide);
}

std::optional<std::string> unsealUtf8Text(std::string_view digits) {
  const std::optional<std::u16string> wide = unsealText(digits);
  if (!wide) {
    return std::nullopt;
  }
  return utf16ToUtf8(*wide);
}

std::optional<std::string> sealNetworkKey(const NetworkKey& key) {
  NetworkKey block = key;
  if (!aes128EncryptEcb(kSealingKey, block)) {
    return std::nullopt;
  }
  return encodeDigits(block);
}

std::optional<NetworkKey> unsealNetworkKey(std::string_view digits) {
  NetworkKey block{};
  decodeDigits(digits, block);
  if (!aes128DecryptEcb(kSealingKey, block)) {
    return std::nullopt;
  }
  return block;
}

}  // namespace korvane::common
