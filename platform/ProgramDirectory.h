#pragma once

#include <string>

namespace korvane::platform {

/// Name of the environment variable that points a program at another program directory.
inline constexpr const char* kProgramDirectoryVariable = "KORVANE_PROGRAM_DIR";

/// The folder that holds the running program, ending in '/'. When KORVANE_PROGRAM_DIR is set and
/// not empty it is used instead (with a '/' added when it lacks one). Empty when the program's
/// own file cannot be found.
std::string programDirectory();

}  // namespace korvane::platform
