#include "tests/support/PassCodeScrambler.h"

namespace korvane::testing {
namespace {

std::string base64(const std::string& bytes) {
  static const char* const kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    if (count > 1)
      value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (count > 2)
      value |= static_cast<unsigned char>(bytes[i + 2]);
    text += kLetters[(value >> 18) & 63];
    text += kLetters[(value >> 12) & 63];
    text += count > 1 ? kLetters[(value >> 6) & 63] : '=';
    text += count > 2 ? kLetters[value & 63] : '=';
  }
  return text;
}

}  // namespace

std::string scramblePassCode(const std::string& address, std::size_t lineLength) {
  const std::string key = "qvtoph";
  const std::size_t n = address.size();
  unsigned sum = 0;
  for (unsigned char c : address) {
    sum = (sum + c) % 255;  // rotation keeps the bytes, so the sum is the address's own
  }
  const std::size_t r = sum % n;
  // Rotating right by r undoes the unscrambler's rotation left by r.
  std::string rotated = address.substr(n - r) + address.substr(0, n - r);
  for (std::size_t i = 0; i < n; ++i) {
    rotated[i] = static_cast<char>(rotated[i] ^ key[i % key.size()]);
  }
  const std::string text = base64(rotated);
  if (lineLength == 0) {
    return text;
  }
  std::string broken;
  for (std::size_t i = 0; i < text.size(); i += lineLength) {
    broken += text.substr(i, lineLength) + "\r\n";
  }
  return broken;
}

}  // namespace korvane::testing
