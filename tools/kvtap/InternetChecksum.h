#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace korvane::tools {

/// The Internet checksum of IP, TCP and UDP (RFC 1071), summed in the machine's byte order: the
/// ones' complement sum does not depend on it, so a folded sum stored back into memory as it
/// is reads right in network order. Add even-length pieces only, except for the last.
class InternetChecksum {
 public:
  /// Adds the bytes as 16-bit words in memory order.
  void add(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* at = bytes.data();
    std::size_t left = bytes.size();
    while (left >= sizeof(std::uint64_t)) {
      std::uint64_t word;
      std::memcpy(&word, at, sizeof word);
      addWord(word);
      at += sizeof word;
      left -= sizeof word;
    }
    if (left >= 4) {
      std::uint32_t word;
      std::memcpy(&word, at, sizeof word);
      addWord(word);
      at += 4;
      left -= 4;
    }
    if (left >= 2) {
      std::uint16_t word;
      std::memcpy(&word, at, sizeof word);
      addWord(word);
      at += 2;
      left -= 2;
    }
    if (left == 1) {
      std::uint8_t last[2] = {*at, 0};  // an odd last byte is the high half of a zero-padded word
      std::uint16_t word;
      std::memcpy(&word, last, sizeof word);
      addWord(word);
    }
  }

  /// The sum folded to 16 bits, as its two bytes stand in memory.
  std::uint16_t folded() const {
    std::uint64_t sum = sum_;
    while ((sum >> 16) != 0) {
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
  }

  /// The checksum to store: the complement of the folded sum.
  std::uint16_t value() const { return static_cast<std::uint16_t>(~folded()); }

  /// Whether bytes that include their stored checksum add up right.
  bool verifies() const { return folded() == 0xFFFF; }

 private:
  void addWord(std::uint64_t word) {
    sum_ += word;
    sum_ += sum_ < word ? 1 : 0;  // the end-around carry
  }

  std::uint64_t sum_ = 0;
};

/// Stores a 16-bit value that InternetChecksum produced at `at`, as it stands in memory.
inline void storeChecksum(std::uint8_t* at, std::uint16_t value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace korvane::tools
