#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// IPv4 addresses written as text. Three readings exist, each fixed by the files that use it:
/// - the standard dotted-address conversion (`parseInetAddress`), for the DHCP settings and
///   lease files, whose addresses are one 32-bit number with the first dotted number in its
///   top byte (192.168.10.1 is 0xC0A80A01), so that pool bounds compare and count as integers;
/// - the filter file's dotted quad (`parseDottedQuad`), four decimal numbers of which an empty
///   one counts as 0, as the hub has always read its filter rules;
/// - a dotted quad that an administrator types (`parseIpv4Address`), the same without empty
///   numbers, so that nothing the hub would read leniently is ever written.
/// The last two give the address's bytes in network order.
namespace korvane::common {

/// The address that the standard dotted-address conversion gives for an invalid text, and the
/// limited broadcast address.
inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFF;

/// An IPv4 address or mask, its bytes in network order (192.168.1.7 is {192, 168, 1, 7}).
using Ipv4Address = std::array<std::uint8_t, 4>;

/// The address in `text` read as the standard dotted-address conversion reads it: one to four
/// numbers separated by dots, each decimal, octal (leading 0) or hexadecimal (leading 0x); with
/// fewer than four, the last number fills the remaining bytes ("10.1" is 10.0.0.1). The text may
/// end in a blank followed by anything. std::nullopt for anything else: an empty text, a number
/// too large for its place, a stray character.
std::optional<std::uint32_t> parseInetAddress(std::string_view text);

/// `address` written as "%d.%d.%d.%d".
std::string dottedText(std::uint32_t address);

/// The address written as a dotted quad as the filter file holds it: four decimal numbers of at
/// most three digits and at most 255, separated by exactly three dots, an empty number counting
/// as 0 ("192.168..1" is 192.168.0.1); std::nullopt for anything else.
std::optional<Ipv4Address> parseDottedQuad(std::string_view text);

/// The address typed as a dotted quad: exactly four decimal numbers of one to three digits, each
/// at most 255, separated by single dots. std::nullopt with a message in `err` for anything else
/// ("192.168..1", which parseDottedQuad reads leniently, is refused).
std::optional<Ipv4Address> parseIpv4Address(std::string_view text, std::string* err);

/// The address in standard dotted-decimal form ("192.168.1.0").
std::string formatIpv4Address(const Ipv4Address& address);

}  // namespace korvane::common
