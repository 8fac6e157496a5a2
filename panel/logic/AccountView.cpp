#include "panel/logic/AccountView.h"

#include "panel/logic/EditWindowText.h"

namespace korvane::panel {

AccountMenuState accountMenuState(const Account* selected) {
  AccountMenuState state;
  if (selected == nullptr) {
    return state;
  }
  const bool locked = selected->status == AccountStatus::kLocked;
  state.unlock = locked;
  state.lock = !locked;
  state.remove = state.password = state.guest = state.single = state.bridge = true;
  state.guestChecked = selected->guest;
  state.singleChecked = selected->connectionMax != 0;
  state.bridgeChecked = selected->bridgeAllow;
  return state;
}

AccountRow accountRow(const Account& account) {
  const bool inUse = account.status == AccountStatus::kInUse;
  AccountRow row;
  row.icon = inUse ? icon::kAccountInUse : icon::kAccountLocked;
  row.name = account.name;
  row.domain = account.domainIndex == 0
                   ? std::u16string(kGlobalDomainText.begin(), kGlobalDomainText.end())
                   : account.domain;
  row.type = account.guest ? text::kGuestAccount : text::kNormalAccount;
  row.state = inUse ? text::kInUse : text::kLocked;
  row.connections =
      account.connectionMax != 0 ? text::kSingleConnection : text::kMultipleConnections;
  row.bridge = account.bridgeAllow ? text::kAllowed : text::kNotAllowed;
  return row;
}

StatusLine accountStatusLine(std::size_t accountCount, bool authenticationOn) {
  if (!authenticationOn) {
    return {text::kAuthenticationOff, std::nullopt};
  }
  return {text::kAccountCountLabel, static_cast<int>(accountCount)};
}

std::string statusLineText(std::string_view label, const StatusLine& line) {
  std::string result(label);
  if (line.count) {
    result += " : " + std::to_string(*line.count);
  }
  return result;
}

bool refillsHubList(AccountCommand command) {
  return command == AccountCommand::kAdd || command == AccountCommand::kDelete ||
         command == AccountCommand::kBridge;
}

}  // namespace korvane::panel
