#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

/// AES-128 (FIPS-197) in ECB mode: every 16-byte block is encrypted on its own with the same
/// key, without padding or chaining. The sealed fields of the INI files and the network keys of
/// the domains use it so.
namespace korvane::common {

/// Size of an AES-128 key in bytes (128 bits).
inline constexpr std::size_t kAes128KeySize = 16;
/// Size of one AES block in bytes, the same for every AES key size.
inline constexpr std::size_t kAesBlockSize = 16;

using Aes128Key = std::array<std::uint8_t, kAes128KeySize>;

/// Encrypts `data` in place, block by block. False when its size is not a whole number of
/// blocks (nothing is changed then) or libcrypto fails.
[[nodiscard]] bool aes128EncryptEcb(const Aes128Key& key, std::span<std::uint8_t> data);

/// Decrypts `data` in place, block by block. False when its size is not a whole number of
/// blocks (nothing is changed then) or libcrypto fails.
[[nodiscard]] bool aes128DecryptEcb(const Aes128Key& key, std::span<std::uint8_t> data);

}  // namespace korvane::common
