#pragma once

#include <string_view>

#include "hub/HubLogger.h"

namespace korvane::hub {

/// What a connection or listener thread does when an exception escapes it: logs the banner, the
/// line naming the thread (`where`, such as "Catch Exception in PortThread") and "iStepNo = %d"
/// with the last progress marker `step`, and ends the whole process with exit code -1, so that
/// the manager starts the hub afresh.
[[noreturn]] void endProcessAfterException(HubLogger& log, std::string_view where, int step);

}  // namespace korvane::hub
