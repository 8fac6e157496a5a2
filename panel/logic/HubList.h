#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/ManagerConfigSnapshot.h"
#include "panel/logic/AccountModelCache.h"

/// The rows of the main window's hub list: what each column shows for a hub of the manager
/// configuration file, and the hub state image.
namespace korvane::panel {

/// The hub list's columns: name, port, number, state, authentication, DHCP.
inline constexpr std::size_t kHubListColumns = 6;
/// Column that holds the hub number as four digits; a refresh reads the row's hub from it.
inline constexpr int kHubNumberColumn = 2;

/// Whether the DHCP services of a hub's domains run: all off, all on, or some of each.
enum class DhcpSummary { kOff, kOn, kMixed };

/// One hub as the list shows it.
struct HubRow {
  int number = 0;
  std::string name;
  int port = 0;
  bool running = false;  ///< Status is "ON"
  bool authentication = false;
  DhcpSummary dhcp = DhcpSummary::kMixed;
};

/// A string of the resource library by number.
using TextSource = std::function<std::string(int id)>;

/// The state image of a hub, in the order the list's images are made: stopped without
/// authentication 0, running without 1, stopped with 2, running with 3.
int hubStateImage(bool running, bool authentication);

/// The six column texts of `row`; the state, authentication and DHCP columns and a port that is
/// not set come from `text`.
std::array<std::string, kHubListColumns> hubRowTexts(const HubRow& row, const TextSource& text);

/// The DHCP summary of hub `hubNumber`: its hub-wide section of "%04d_dhcp.ini" in `iniDirectory`
/// first, then the section of each domain that the hub's accounts use (read through `models`
/// with `splitter`); kMixed as soon as one differs from those before, and when the accounts
/// cannot be read.
DhcpSummary summarizeDhcp(const std::string& iniDirectory, int hubNumber, char splitter,
                          AccountModelCache& models);

/// The row of hub `hubNumber` from `config`, with the DHCP summary as summarizeDhcp gives it.
HubRow readHubRow(const common::ManagerConfigSnapshot& config, int hubNumber,
                  const std::string& iniDirectory, AccountModelCache& models);

/// Every hub that `config` lists, in file order.
std::vector<HubRow> readHubRows(const common::ManagerConfigSnapshot& config,
                                const std::string& iniDirectory, AccountModelCache& models);

/// The hub number a row's number column shows ("0007" gives 7); 0 when it holds none.
int hubNumberOfText(const std::string& numberText);

}  // namespace korvane::panel
