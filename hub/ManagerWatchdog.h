#pragma once

#include <functional>

namespace korvane::hub {

/// Starts a detached thread that waits for the manager process `managerProcessId` to end and
/// then calls `whenEnded` (which stops the hub). Nothing happens when the manager cannot be
/// watched. `whenEnded` is held by the thread, so what it captures outlives it.
void startManagerWatchdog(int managerProcessId, std::function<void()> whenEnded);

}  // namespace korvane::hub
