#pragma once

#include <ostream>
#include <string>

namespace korvane::manager {

/// Lets the administrators' group change the files that the control panel writes, although the
/// product is installed where ordinary users may not: the help file kv2.chm beside the program
/// directory, the panel's resource library OSTREL_LANG.dll and the ini folder in it, which other
/// users may no longer open at all. Each path is tried; a failure prints its diagnostic line to
/// `out` and the next path is tried.
void applyInstallationGrants(const std::string& programDirectory, std::ostream& out);

}  // namespace korvane::manager
