#include "common/ProgramPaths.h"

#include "platform/ProgramDirectory.h"

namespace korvane::common {

std::string iniDirectory() {
  return platform::programDirectory() + "ini/";
}

std::string logDirectory() {
  return platform::programDirectory() + "log/";
}

std::string managerConfigPath() {
  return iniDirectory() + "Tollmar.ini";
}

}  // namespace korvane::common
