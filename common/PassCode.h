#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

/// The scrambling of the dynamic DNS pass codes and pick-up codes: Base64 text of an address
/// whose bytes were rotated and combined with a short key.
namespace korvane::common {

/// The key every byte is combined with by exclusive or, one character after the other.
inline constexpr std::string_view kScrambleKey = "qvtoph";
/// The longest pass code the manager takes, in characters: it reads the key into a buffer of
/// 1024 bytes with its terminating zero.
inline constexpr std::size_t kMaxPassCodeLength = 1023;

/// Decodes Base64 text (RFC 4648 alphabet): characters outside the alphabet, such as line ends
/// and blanks, are skipped; decoding stops at the first group of four that gives fewer than
/// three bytes (padding, a misplaced '=' or the end of the text). Empty when nothing decodes.
std::string decodePassCodeBase64(std::string_view text);

/// The address hidden in `passCode`, cut at its first zero byte; empty when nothing decodes.
/// When `diagnostics` is not null it gets the steps' lines ("iPassCodeSize: N", "iModData = N",
/// "Left Shifting", "Shift done"); never the decoded text, which authorises updates of the name.
std::optional<std::string> unscramblePassCode(std::string_view passCode, std::ostream* diagnostics);

/// True when `address` begins with "http://" or "https://", the only addresses a pass code may
/// hold.
bool isUpdateAddress(std::string_view address);

}  // namespace korvane::common
