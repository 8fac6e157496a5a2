#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/SealedField.h"

namespace korvane::panel {

/// Most accounts that a hub's list holds: adding and importing stop there.
inline constexpr std::size_t kMaxAccounts = 1000;
/// Longest account name or password, in UTF-16 code units: what one sealed field holds.
inline constexpr std::size_t kMaxAccountTextUnits = common::kSealedTextUnits;

/// One account of a hub as the panel shows and edits it.
struct Account {
  std::u16string name;      ///< login name, with the domain behind the splitter
  std::u16string password;  ///< plain password
  std::int32_t status = 0;  ///< 0: may log in; any other value (the panel writes 1): locked
  bool guest = false;       ///< a guest account, whose frames never reach other guests
  /// Most simultaneous connections: 0 any number ("multi"), 1 one at a time ("single").
  std::int32_t connectionLimit = 0;
  bool bridgeAllowed = true;  ///< the account may connect a bridge

  // Derived from the name and the list's order whenever the list is read or changed.
  std::u16string domain;         ///< text behind the first splitter; empty for the global domain
  std::int32_t domainIndex = 0;  ///< 0 for the global domain; the hub numbers its segments so

  bool operator==(const Account&) const = default;
};

/// The domain splitter of the manager configuration as a UTF-16 code unit: its byte
/// sign-extended, as the hub makes it (carriage return, 13, stands for no splitter).
char16_t splitterUnit(char splitter);

/// `text` as UTF-8 for messages, an unpaired surrogate shown as U+FFFD.
std::string displayText(std::u16string_view text);

/// Gives every account its domain and domain index, in list order, as the hub numbers them: a
/// name holding `splitter` has the text behind its first occurrence as domain, and takes the
/// index of the first earlier account with an equal domain (global accounts included) or else
/// one above every index before it. Returns the highest index given (0 without domains).
int numberDomains(std::vector<Account>* accounts, char16_t splitter);

}  // namespace korvane::panel
