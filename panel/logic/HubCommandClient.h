#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/ControlMessage.h"

namespace korvane::panel {

/// How long the panel waits for a hub to take a reload command: the hub closes the connection
/// once it has read the request (after the reload for commands 2 and 7), and a hub that serves
/// another client first lets this one wait. The panel's replies wait as long.
inline constexpr std::chrono::milliseconds kCommandTakenLimit{5000};

/// The commands with which the panel tells a running hub that it wrote one of its files.
enum class HubReload : std::uint32_t {
  /// Accounts saved; connected clients stay as they are.
  kAccounts = static_cast<std::uint32_t>(common::HubCommand::kReloadAccounts),
  /// Accounts saved; the hub checks its connected clients against them again.
  kAccountsRecheck = static_cast<std::uint32_t>(common::HubCommand::kReloadAccountsRecheck),
  /// Filter saved; connected clients stay.
  kFilter = static_cast<std::uint32_t>(common::HubCommand::kReloadFilter),
  /// Filter saved; the hub checks its connected clients against it again.
  kFilterRecheck = static_cast<std::uint32_t>(common::HubCommand::kReloadFilterRecheck),
};

/// The accounts command: kAccountsRecheck when `recheckClients`, else kAccounts.
HubReload accountsReload(bool recheckClients);
/// The filter command: kFilterRecheck when `recheckClients`, else kFilter.
HubReload filterReload(bool recheckClients);

/// What became of a reload command.
enum class HubDelivery {
  kTaken,          ///< the hub read the command and closed the connection
  kHubNotRunning,  ///< the hub's pipe cannot be opened, so no hub runs: nothing was sent
  kNotConfirmed,   ///< connected, but the write failed or the hub did not close in time
};

/// The panel's client of a hub's control pipe for reload commands: opens the pipe "KVHUB_nnnn",
/// writes the 16-byte request (magic, 0, command, 0) and waits until the hub has taken it.
class HubCommandClient {
 public:
  /// A client that waits at most `takenLimit` for the hub to take a command.
  explicit HubCommandClient(std::chrono::milliseconds takenLimit = kCommandTakenLimit)
      : takenLimit_(takenLimit) {}

  /// Sends `reload` to hub `hubNumber`. kHubNotRunning returns at once and is no fault (the hub
  /// reads its files when it starts); kNotConfirmed carries a message in `err`.
  HubDelivery send(int hubNumber, HubReload reload, std::string* err) const;

 private:
  std::chrono::milliseconds takenLimit_;
};

/// A short English description of `delivery`, for messages ("the hub does not run").
const char* describe(HubDelivery delivery);

}  // namespace korvane::panel
