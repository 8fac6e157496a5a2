#include "panel/logic/Account.h"

#include <algorithm>

#include "common/Utf16.h"

namespace korvane::panel {

char16_t splitterUnit(char splitter) {
  return static_cast<char16_t>(static_cast<std::int16_t>(static_cast<signed char>(splitter)));
}

std::string displayText(std::u16string_view text) {
  constexpr char16_t kReplacement = 0xFFFD;
  std::u16string shown(text);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const bool high = shown[i] >= 0xD800 && shown[i] <= 0xDBFF;
    const bool low = shown[i] >= 0xDC00 && shown[i] <= 0xDFFF;
    if (high && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 && shown[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      shown[i] = kReplacement;
    }
  }
  return common::utf16ToUtf8(shown).value_or(std::string());
}

int numberDomains(std::vector<Account>* accounts, char16_t splitter) {
  int highest = 0;
  for (auto current = accounts->begin(); current != accounts->end(); ++current) {
    current->domain.clear();
    current->domainIndex = 0;
    const std::size_t cut = current->name.find(splitter);
    if (cut == std::u16string::npos) {
      continue;
    }
    current->domain = current->name.substr(cut + 1);
    const auto sameDomain = std::find_if(accounts->begin(), current, [&](const Account& earlier) {
      return earlier.domain == current->domain;
    });
    current->domainIndex = sameDomain != current ? sameDomain->domainIndex : highest + 1;
    highest = std::max(highest, current->domainIndex);
  }
  return highest;
}

}  // namespace korvane::panel
