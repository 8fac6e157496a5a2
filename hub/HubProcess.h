#pragma once

#include "hub/HubCommandLine.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// Process exit code of a hub that could not start or failed; the shell sees 255.
inline constexpr int kHubExitFailure = -1;

/// Runs one hub process: start-up, the control pipe until the hub is told to stop, shut-down.
/// Returns 0 after an orderly stop and kHubExitFailure when the hub cannot start (bad hub number,
/// no port, no random source; nothing is logged then) or an exception escaped (logged).
int runHubProcess(const HubCommandLine& commandLine, const platform::Clock& clock);

}  // namespace korvane::hub
