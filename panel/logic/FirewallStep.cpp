#include "panel/logic/FirewallStep.h"

#include <algorithm>

#include "common/Atoi.h"
#include "panel/logic/MainWindowText.h"

namespace korvane::panel {
namespace {

constexpr int kHighestPort = 65535;

bool covers(const ZonePort& entry, int port) {
  if (entry.protocol != "tcp") {
    return false;
  }
  const std::size_t dash = entry.port.find('-');
  const std::string_view text(entry.port);
  const auto first = common::leadingDecimal(text.substr(0, dash), 0, kHighestPort);
  const auto last = dash == std::string::npos
                        ? first
                        : common::leadingDecimal(text.substr(dash + 1), 0, kHighestPort);
  return port >= first && port <= last;
}

std::vector<int> hubPorts(const common::ManagerConfigSnapshot& config) {
  std::vector<int> ports;
  for (const int hub : config.listHubs()) {
    ports.push_back(config.readPort(hub));
  }
  return ports;
}

}  // namespace

std::vector<int> portsToOpen(const std::vector<int>& hubPorts, const std::vector<ZonePort>& open) {
  std::vector<int> closed;
  for (const int port : hubPorts) {
    const bool isOpen = std::any_of(open.begin(), open.end(),
                                    [port](const ZonePort& entry) { return covers(entry, port); });
    if (port != 0 && !isOpen && std::find(closed.begin(), closed.end(), port) == closed.end()) {
      closed.push_back(port);
    }
  }
  return closed;
}

void runFirewallStep(common::ManagerConfig& config, Firewall& firewall, MessageView& view) {
  const std::optional<std::vector<ZonePort>> open = firewall.openPorts();
  if (!open) {
    return;
  }
  std::string err;
  const std::optional<common::ManagerConfigSnapshot> snapshot = config.snapshot(&err);
  if (!snapshot || !snapshot->readFirewallSetting()) {
    return;
  }
  const std::vector<int> closed = portsToOpen(hubPorts(*snapshot), *open);
  if (closed.empty()) {
    return;
  }
  const bool yes = view.askYesNo(text::kFirewallQuestion);
  if (!config.writeFirewallSetting(yes, &err)) {
    view.showFailure(err);
  }
  if (!yes) {
    return;
  }
  for (const int port : closed) {
    int step = 0;
    if (!firewall.openTcpPort(port, &step)) {
      view.showMessage(text::kFirewallFailure, step);
      return;
    }
  }
}

}  // namespace korvane::panel
