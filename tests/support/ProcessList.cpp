#include "tests/support/ProcessList.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvane::testing {
namespace {

// Fields of /proc/PID/stat after the command name in parentheses: state, then parent id.
bool readStat(const std::string& dir, char* state, int* parent) {
  std::ifstream in(dir + "/stat");
  std::string line;
  if (!std::getline(in, line)) {
    return false;
  }
  const auto close = line.rfind(')');
  if (close == std::string::npos) {
    return false;
  }
  std::istringstream rest(line.substr(close + 1));
  return static_cast<bool>(rest >> *state >> *parent);
}

std::vector<std::string> readArguments(const std::string& dir) {
  std::ifstream in(dir + "/cmdline", std::ios::binary);
  std::vector<std::string> arguments;
  std::string argument;
  while (std::getline(in, argument, '\0')) {
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace

std::vector<ProcessInfo> childProcesses(int parentPid) {
  std::vector<ProcessInfo> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    char state = 0;
    int parent = 0;
    if (!readStat(entry.path().string(), &state, &parent) || parent != parentPid ||
        state == 'Z') {
      continue;
    }
    children.push_back({std::atoi(name.c_str()), readArguments(entry.path().string())});
  }
  return children;
}

}  // namespace korvane::testing
