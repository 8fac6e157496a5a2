#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Aes128.h"

/// Sealed fields: how account names, passwords and the domains' network keys stand in the INI
/// files. The plain bytes are encrypted with AES-128 in ECB mode under a key built into the hub
/// and the panel, and every cipher byte is printed as two upper-case hexadecimal digits ("%02X").
///
/// A text is sealed as its UTF-16LE code units in a zero-filled 128-byte block (at most 64 code
/// units, cut there, with no terminator when it fills the block): 256 digits. A network key is
/// sealed as its 16 bytes, one block: 32 digits.
///
/// Unsealing reads only the digits 0-9 and A-F; any other character (lower-case letters
/// included) counts as 0 for its half-byte, missing digits at the end count as 0, and digits
/// beyond the field's length are ignored. Unsealing therefore never rejects its input: wrong
/// digits give a different text or key, which matches nothing.
namespace korvane::common {

/// Bytes of a sealed text: room for 64 UTF-16 code units, the longest name or password.
inline constexpr std::size_t kSealedTextBytes = 128;
/// Code units of the longest text that a sealed field holds.
inline constexpr std::size_t kSealedTextUnits = kSealedTextBytes / 2;
/// Hexadecimal digits of a sealed text, two per cipher byte.
inline constexpr std::size_t kSealedTextDigits = 2 * kSealedTextBytes;
/// Bytes of a domain's network key: one AES block.
inline constexpr std::size_t kNetworkKeyBytes = kAesBlockSize;
/// Hexadecimal digits of a sealed network key, two per cipher byte.
inline constexpr std::size_t kSealedNetworkKeyDigits = 2 * kNetworkKeyBytes;

/// The key that seals every field; the hub and the panel carry the same one.
inline constexpr Aes128Key kSealingKey = {0x5A, 0x17, 0xC3, 0x08, 0x9E, 0x41, 0xD2, 0x6B,
                                          0x70, 0x2F, 0xE4, 0x93, 0x1C, 0xB8, 0x46, 0x0D};

/// The plain 128-byte block of a text: its UTF-16LE code units, zero-filled behind them.
using TextBlock = std::array<std::uint8_t, kSealedTextBytes>;
/// A domain's network key, with which clients encrypt their frames.
using NetworkKey = std::array<std::uint8_t, kNetworkKeyBytes>;

/// The block of `text`: its first 64 code units as UTF-16LE bytes, zero-filled behind them.
TextBlock textBlockOf(std::u16string_view text);

/// The text of `block`: its UTF-16LE code units up to the first zero unit, or all 64.
std::u16string textOfBlock(const TextBlock& block);

/// The 256 digits that seal `text` (cut to 64 code units); std::nullopt only when libcrypto
/// fails.
[[nodiscard]] std::optional<std::string> sealText(std::u16string_view text);

/// The text sealed in `digits` (only the first 256 count); std::nullopt only when libcrypto
/// fails. The result may hold unpaired surrogates when the digits were not made by sealText.
[[nodiscard]] std::optional<std::u16string> unsealText(std::string_view digits);

/// The 256 digits that seal the UTF-8 text `text` (cut to 64 UTF-16 code units); std::nullopt
/// when `text` is not valid UTF-8 or libcrypto fails.
[[nodiscard]] std::optional<std::string> sealUtf8Text(std::string_view text);

/// The text sealed in `digits` as UTF-8; std::nullopt when the unsealed text holds an unpaired
/// surrogate or libcrypto fails.
[[nodiscard]] std::optional<std::string> unsealUtf8Text(std::string_view digits);

/// The 32 digits that seal `key`; std::nullopt only when libcrypto fails.
[[nodiscard]] std::optional<std::string> sealNetworkKey(const NetworkKey& key);

/// The network key sealed in `digits` (only the first 32 count); std::nullopt only when
/// libcrypto fails.
[[nodiscard]] std::optional<NetworkKey> unsealNetworkKey(std::string_view digits);

}  // namespace korvane::common
