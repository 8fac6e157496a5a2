#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "panel/logic/Account.h"
#include "panel/logic/DomainSplitter.h"

/// What the account window shows of a hub's accounts: the rows of its list, the states of its
/// commands for the selection and its status bar.
namespace korvane::panel {

/// Commands of the account window by number, as its menu names them.
enum class AccountCommand {
  kAdd = 112,
  kUnlock = 113,
  kLock = 114,
  kDelete = 115,
  kPassword = 116,
  kGuest = 139,
  kSingle = 161,
  kBridge = 40010,
  kImportCsv = 167,
  kExportCsv = 168,
  kDomainSplitter = 40012,
};

/// The commands of the account window that depend on the selection, each true when on, and the
/// check marks of the three switches.
struct AccountMenuState {
  bool add = true;
  bool unlock = false;
  bool lock = false;
  bool remove = false;
  bool password = false;
  bool guest = false;
  bool single = false;
  bool bridge = false;
  bool guestChecked = false;
  bool singleChecked = false;
  bool bridgeChecked = false;

  bool operator==(const AccountMenuState&) const = default;
};

/// Without a selection only Add is on; with one, Lock or Unlock as its status allows, the other
/// account commands on, and the switches checked as the account is set.
AccountMenuState accountMenuState(const Account* selected);

/// One row of the account list: the icon number, the name, the domain text and the string
/// numbers of the four option columns.
struct AccountRow {
  int icon = 0;
  std::u16string name;
  std::u16string domain;
  int type = 0;
  int state = 0;
  int connections = 0;
  int bridge = 0;

  bool operator==(const AccountRow&) const = default;
};

/// The row that shows `account`.
AccountRow accountRow(const Account& account);

/// A status bar: string `id`, followed by " : " and `count` when there is one.
struct StatusLine {
  int id = 0;
  std::optional<int> count;

  bool operator==(const StatusLine&) const = default;
};

/// The account window's status bar: the number of accounts, or the warning that they are not
/// asked for while the hub's authentication is off.
StatusLine accountStatusLine(std::size_t accountCount, bool authenticationOn);

/// The text of a status line whose string reads `label`: "label : count" ("%s : %d").
std::string statusLineText(std::string_view label, const StatusLine& line);

/// The hub list of the main window shows the hub's domains, so the commands that add or remove
/// accounts, or switch bridging, refill it.
bool refillsHubList(AccountCommand command);

}  // namespace korvane::panel
