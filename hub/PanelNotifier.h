#pragma once

namespace korvane::hub {

struct HubState;

/// Tells the open status windows of the control panel that the hub's connection list changed
/// (a connection was made, logged in, learned its address or ended). Returns at once; a panel
/// that cannot be reached is skipped.
void notifyPanels(HubState& state);

}  // namespace korvane::hub
