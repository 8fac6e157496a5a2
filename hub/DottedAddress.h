#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// IPv4 addresses as the DHCP service keeps them: one 32-bit number whose top byte is the first
/// number of the dotted form (192.168.10.1 is 0xC0A80A01), so that pool bounds compare and count
/// as plain integers.
namespace korvane::hub {

/// The address that the standard dotted-address conversion gives for an invalid text, and the
/// limited broadcast address.
inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFF;

/// The address in `text` read as the standard dotted-address conversion reads it: one to four
/// numbers separated by dots, each decimal, octal (leading 0) or hexadecimal (leading 0x); with
/// fewer than four, the last number fills the remaining bytes ("10.1" is 10.0.0.1). The text may
/// end in a blank followed by anything. std::nullopt for anything else: an empty text, a number
/// too large for its place, a stray character.
std::optional<std::uint32_t> parseInetAddress(std::string_view text);

/// `address` written as "%d.%d.%d.%d".
std::string dottedText(std::uint32_t address);

}  // namespace korvane::hub
