#pragma once

#include <cstddef>

#include "common/AccountFile.h"
#include "common/SealedField.h"

namespace korvane::panel {

/// Most accounts that a hub's list holds: adding and importing stop there.
inline constexpr std::size_t kMaxAccounts = 1000;
/// Longest account name or password, in UTF-16 code units: what one sealed field holds.
inline constexpr std::size_t kMaxAccountTextUnits = common::kSealedTextUnits;

/// One account of a hub as the panel shows and edits it: a record of the account file, with
/// its domain (common/AccountFile.h).
using Account = common::AccountRecord;
using common::AccountStatus;

}  // namespace korvane::panel
