#pragma once

#include <ostream>
#include <string>

namespace korvane::common {

/// Lets the administrators' group change the files that the control panel writes, although the
/// product is installed where ordinary users may not: the active help file kv2.html beside the
/// program directory, the panel's active resource library OSTREL_LANG.rcc and the ini folder in
/// it, which other users may no longer open at all. The manager calls it at every start, the
/// panel after a language switch replaced the first two. Each path is tried; a failure prints
/// its diagnostic line to `out` and the next path is tried.
void applyInstallationGrants(const std::string& programDirectory, std::ostream& out);

}  // namespace korvane::common
