#pragma once

#include <string>

namespace korvane::platform {

/// Ends at once (as a kill does) every process of the machine that runs the program file at
/// `programPath`, compared byte for byte, and returns how many it ended. A process that runs a
/// copy elsewhere is left alone; so is a process that cannot be examined or ended (another
/// user's, without the privilege). A process whose program file was deleted or replaced while
/// it ran still counts as running that path.
int endProcessesRunning(const std::string& programPath);

}  // namespace korvane::platform
