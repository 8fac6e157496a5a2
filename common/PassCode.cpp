#include "common/PassCode.h"

#include <algorithm>
#include <array>

namespace korvane::common {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kPadding = 64;  // '=' among the sextets
constexpr int kSkipped = -1;

int sextetOf(char c) {
  if (c == '=') {
    return kPadding;
  }
  const std::size_t at = kAlphabet.find(c);
  return at == std::string_view::npos ? kSkipped : static_cast<int>(at);
}

// The bytes of one group of four sextets: three, or fewer when it ends in padding; none when a
// '=' stands before a letter or in the first two places.
std::size_t decodeGroup(const std::array<int, 4>& group, std::string* out) {
  std::size_t letters = 0;
  while (letters < 4 && group[letters] != kPadding) {
    ++letters;
  }
  for (std::size_t i = letters; i < 4; ++i) {
    if (group[i] != kPadding) {
      return 0;
    }
  }
  if (letters < 2) {
    return 0;
  }
  const unsigned value = (static_cast<unsigned>(group[0]) << 18) |
                         (static_cast<unsigned>(group[1]) << 12) |
                         (static_cast<unsigned>(letters > 2 ? group[2] : 0) << 6) |
                         static_cast<unsigned>(letters > 3 ? group[3] : 0);
  const std::size_t bytes = letters - 1;
  for (std::size_t i = 0; i < bytes; ++i) {
    out->push_back(static_cast<char>((value >> (16 - 8 * i)) & 0xFF));
  }
  return bytes;
}

}  // namespace

std::string decodePassCodeBase64(std::string_view text) {
  std::string out;
  std::array<int, 4> group{};
  std::size_t filled = 0;
  for (char c : text) {
    const int sextet = sextetOf(c);
    if (sextet == kSkipped) {
      continue;
    }
    group[filled++] = sextet;
    if (filled < 4) {
      continue;
    }
    filled = 0;
    if (decodeGroup(group, &out) < 3) {
      return out;
    }
  }
  // The text ended inside a group: what it holds counts as padded.
  for (std::size_t i = filled; i < 4 && filled > 0; ++i) {
    group[i] = kPadding;
  }
  if (filled > 0) {
    decodeGroup(group, &out);
  }
  return out;
}

std::optional<std::string> unscramblePassCode(std::string_view passCode,
                                              std::ostream* diagnostics) {
  std::string bytes = decodePassCodeBase64(passCode);
  if (bytes.empty()) {
    return std::nullopt;
  }
  const std::size_t n = bytes.size();
  if (diagnostics != nullptr) {
    *diagnostics << "iPassCodeSize: " << n << '\n';
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<char>(bytes[i] ^ kScrambleKey[i % kScrambleKey.size()]);
    sum = (sum + static_cast<unsigned char>(bytes[i])) % 255;
  }
  if (diagnostics != nullptr) {
    *diagnostics << "iModData = " << sum << '\n' << "Left Shifting\n";
  }
  std::rotate(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sum % n), bytes.end());
  if (diagnostics != nullptr) {
    *diagnostics << "Shift done\n" << std::flush;
  }
  bytes.resize(std::min(bytes.size(), bytes.find('\0')));
  return bytes;
}

bool isUpdateAddress(std::string_view address) {
  return address.starts_with("http://") || address.starts_with("https://");
}

}  // namespace korvane::common
