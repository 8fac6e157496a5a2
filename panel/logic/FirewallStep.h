#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/ManagerConfig.h"
#include "panel/logic/MessageView.h"

/// The start-up's firewall step: the hubs' TCP ports must be open in the firewall's default zone
/// for clients to reach them, so the panel offers to open those that are not.
namespace korvane::panel {

/// A port entry of a firewall zone: a number ("7470") or a range ("7000-7100") and a protocol.
struct ZonePort {
  std::string port;
  std::string protocol;
};

/// The firewall, as far as the step needs it.
class Firewall {
 public:
  virtual ~Firewall() = default;
  /// The ports open in the default zone; std::nullopt when no firewall runs or it cannot be
  /// asked (the step is then skipped without a word).
  virtual std::optional<std::vector<ZonePort>> openPorts() = 0;
  /// Opens TCP port `port` in the default zone; false with the failing step's code in `step`.
  virtual bool openTcpPort(int port, int* step) = 0;
};

/// The ports of `hubPorts` (0, a port not set, left out; each once, in order) that no TCP entry
/// of `open` covers.
std::vector<int> portsToOpen(const std::vector<int>& hubPorts, const std::vector<ZonePort>& open);

/// The step: nothing when `firewall` is not there or FIREWALL/AutoSetting is "off"; otherwise,
/// when a hub's port is closed, asks string 100. No writes AutoSetting "off"; Yes writes "on"
/// and opens the ports, showing string 101 with the failing step's code when one cannot be
/// opened.
void runFirewallStep(common::ManagerConfig& config, Firewall& firewall, MessageView& view);

}  // namespace korvane::panel
