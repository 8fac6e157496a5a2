#pragma once

#include <string>
#include <string_view>

namespace korvane::hub {

/// What the manager tells a hub process on its command line.
struct HubCommandLine {
  int hubNumber = 0;         ///< 1..9999 for a hub that may run
  int managerProcessId = 0;  ///< 0 when the hub runs without a manager
};

/// Reads the text behind the program name: two tokens separated by spaces (a tab is part of a
/// token), each converted like C's atoi; a token of 32 or more characters is ignored and leaves
/// its value at 0.
HubCommandLine parseHubCommandLine(std::string_view text);

/// The program's arguments joined with single spaces, as one command-line text.
std::string joinArguments(int argc, const char* const* argv);

/// Hub numbers that a hub process accepts.
inline constexpr int kLowestHubNumber = 1;
inline constexpr int kHighestHubNumber = 9999;

}  // namespace korvane::hub
