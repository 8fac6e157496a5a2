#pragma once

#include <functional>

#include "common/RunThread.h"

namespace korvane::hub {

/// Starts a detached thread that waits for the manager process `managerProcessId` to end and
/// then calls `whenEnded` (which stops the hub). Nothing happens when the manager cannot be
/// watched. `whenEnded` is held by the thread, so what it captures outlives it. An exception
/// that escapes the thread goes to `onFailure`.
void startManagerWatchdog(int managerProcessId, std::function<void()> whenEnded,
                          common::ThreadFailureHandler onFailure);

}  // namespace korvane::hub
