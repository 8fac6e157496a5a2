#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/SealedField.h"

/// Frames encrypted with a domain's network key, as encrypted data records (kind 2) carry them:
/// the Ethernet header (destination, source, EtherType) stays plain so that the hub can switch
/// the record without the key; the rest of the frame is zero-padded to whole AES blocks and
/// encrypted with AES-128 in ECB mode. The record's plain-length field keeps the frame's length
/// before padding, its payload-length field the length of the payload built here.
namespace korvane::common {

/// Bytes at the start of a frame that stay plain: destination (6), source (6), EtherType (2).
inline constexpr std::size_t kFramePlainHeaderSize = 14;

/// The payload length of the encrypted form of a frame of `frameLength` bytes: the 14 plain
/// bytes and the rest rounded up to whole blocks. A frame of 14 bytes or fewer stays as it is.
constexpr std::size_t encryptedPayloadSize(std::size_t frameLength) {
  if (frameLength <= kFramePlainHeaderSize) {
    return frameLength;
  }
  const std::size_t rest = frameLength - kFramePlainHeaderSize;
  return kFramePlainHeaderSize + (rest + kAesBlockSize - 1) / kAesBlockSize * kAesBlockSize;
}

/// Encrypts in place the frame that fills the first `frameLength` bytes of `buffer`: zero-fills
/// the padding behind it and encrypts everything behind the plain header. Returns the payload
/// length (encryptedPayloadSize(frameLength)); empty with a message in `err` when `buffer` has
/// no room for the padding or libcrypto fails.
[[nodiscard]] std::optional<std::size_t> encryptFrame(const NetworkKey& key,
                                                      std::span<std::uint8_t> buffer,
                                                      std::size_t frameLength, std::string* err);

/// Decrypts in place the payload of an encrypted data record whose plain-length field is
/// `plainLength`. Returns the frame's length: the frame is then the first that many bytes of
/// `payload`. Empty with a message in `err` when the payload's length is not the encrypted
/// length of a frame of `plainLength` bytes (a record made by another rule, or damaged), or
/// libcrypto fails; `payload` may then be partly changed.
[[nodiscard]] std::optional<std::size_t> decryptFrame(const NetworkKey& key,
                                                      std::span<std::uint8_t> payload,
                                                      std::uint32_t plainLength, std::string* err);

}  // namespace korvane::common
