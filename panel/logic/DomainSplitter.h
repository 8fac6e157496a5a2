#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The domain splitter: the character that separates an account name from its domain in the
/// manager's SYSTEM/DomainSplitter setting, chosen in the panel's splitter dialog or by kvctl.
namespace korvane::panel {

/// The stored value that stands for no splitter: a carriage return, which no name holds.
inline constexpr char kNoDomainSplitter = '\r';

/// The domain text of a name that holds no splitter: the global domain, in the account and
/// connection lists alike.
inline constexpr std::string_view kGlobalDomainText = "-Global-";

/// True when `c` may split names: a visible ASCII character. The setting holds one byte, and the
/// hub compares it with the UTF-16 units of names, which only an ASCII byte matches as itself.
bool isSplitterCharacter(char16_t c);

/// The setting the splitter dialog stores: kNoDomainSplitter when "none" is chosen, else the
/// one character typed; std::nullopt (the dialog shows its warning) when that is not exactly
/// one character that may split names.
std::optional<char> splitterOfDialog(bool noSplitter, std::u16string_view typed);

/// The setting of kvctl's argument: "none", or one character that may split names;
/// std::nullopt with a message in `err` otherwise.
std::optional<char> splitterOfArgument(std::string_view text, std::string* err);

/// The text that shows `splitter`: empty for none.
std::string splitterText(char splitter);

}  // namespace korvane::panel
