#pragma once

#include <functional>
#include <string>

#include "panel/logic/HubCommandClient.h"

namespace korvane::panel {

/// Sends one reload command to the hub that an editor works for; what became of it, with a
/// message in `err` for kNotConfirmed. Tests hand an editor one that records the commands.
using HubReloadSender = std::function<HubDelivery(HubReload reload, std::string* err)>;

/// The sender that writes to hub `hubNumber`'s control pipe with `client`.
HubReloadSender pipeReloadSender(int hubNumber, HubCommandClient client = HubCommandClient());

/// The last reload an editor sent: the hub's answer and, when it did not confirm, why.
struct ReloadReport {
  HubDelivery delivery = HubDelivery::kHubNotRunning;
  std::string err;

  /// A warning for the user when the hub runs but did not take the command; empty otherwise.
  std::string warning() const { return delivery == HubDelivery::kNotConfirmed ? err : ""; }
};

}  // namespace korvane::panel
