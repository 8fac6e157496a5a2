#include "panel/logic/DomainSplitter.h"

namespace korvane::panel {

bool isSplitterCharacter(char16_t c) {
  return c > u' ' && c < 0x7F;
}

std::optional<char> splitterOfDialog(bool noSplitter, std::u16string_view typed) {
  if (noSplitter) {
    return kNoDomainSplitter;
  }
  if (typed.size() != 1 || !isSplitterCharacter(typed[0])) {
    return std::nullopt;
  }
  return static_cast<char>(typed[0]);
}

std::optional<char> splitterOfArgument(std::string_view text, std::string* err) {
  if (text == "none") {
    return kNoDomainSplitter;
  }
  if (text.size() != 1 || !isSplitterCharacter(static_cast<unsigned char>(text[0]))) {
    *err =
        "the splitter is one visible ASCII character, or 'none', not '" + std::string(text) + "'";
    return std::nullopt;
  }
  return text[0];
}

std::string splitterText(char splitter) {
  return splitter == kNoDomainSplitter ? std::string() : std::string(1, splitter);
}

}  // namespace korvane::panel
