#pragma once

#include <string>

namespace korvane::platform {

/// Name of the environment variable that points a program at another program directory.
inline constexpr const char* kProgramDirectoryVariable = "KORVANE_PROGRAM_DIR";

/// The folder that holds the running program, ending in '/'. When KORVANE_PROGRAM_DIR is set and
/// not empty it is used instead (with a '/' added when it lacks one). Empty when the program's
/// own file cannot be found.
std::string programDirectory();

/// The full path of the running program's own file, ignoring KORVANE_PROGRAM_DIR. Empty when it
/// cannot be found.
std::string executablePath();

}  // namespace korvane::platform
