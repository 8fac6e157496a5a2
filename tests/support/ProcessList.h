#pragma once

#include <string>
#include <vector>

namespace korvane::testing {

/// A running process as /proc shows it.
struct ProcessInfo {
  int pid = 0;
  std::vector<std::string> arguments;  ///< argv, the program first
};

/// The living (not zombie) children of process `parentPid`, in no particular order.
std::vector<ProcessInfo> childProcesses(int parentPid);

}  // namespace korvane::testing
