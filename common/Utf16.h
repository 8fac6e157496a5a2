#pragma once

#include <optional>
#include <string>
#include <string_view>

/// Conversions between UTF-8, the system's text encoding, and UTF-16, in which account names,
/// passwords and domains are kept and sealed.
namespace korvane::common {

/// The UTF-16 form of `utf8`; std::nullopt when it is not valid UTF-8 (a stray or missing
/// continuation byte, an overlong form, an encoded surrogate, a value above U+10FFFF).
[[nodiscard]] std::optional<std::u16string> utf8ToUtf16(std::string_view utf8);

/// The UTF-8 form of `utf16`; std::nullopt when it holds an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf16ToUtf8(std::u16string_view utf16);

}  // namespace korvane::common
