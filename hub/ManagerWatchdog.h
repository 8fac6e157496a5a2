#pragma once

#include <memory>

#include "hub/HubState.h"

namespace korvane::hub {

/// Starts a detached thread that waits for the manager process to end and then stops the hub:
/// it sets the shutdown flag, wakes the control pipe and logs "Detect Tollmar Terminated !".
/// Nothing happens when the manager cannot be watched or the hub is already stopping.
void startManagerWatchdog(std::shared_ptr<HubState> state);

}  // namespace korvane::hub
