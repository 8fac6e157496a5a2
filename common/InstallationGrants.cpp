#include "common/InstallationGrants.h"

#include <cstdio>
#include <filesystem>

#include "platform/FileAccess.h"

namespace korvane::common {
namespace {

// The diagnostic lines name the step that failed, with the system's error number.
void grant(const std::string& path, std::ostream& out) {
  int errorCode = 0;
  std::string err;
  if (platform::grantAdministratorsAccess(path, &errorCode, &err)) {
    return;
  }
  char line[128];
  if (err.rfind("stat", 0) == 0) {
    std::snprintf(line, sizeof line, "GetFileSecurity() failed. Error %d\n", errorCode);
  } else {
    std::snprintf(line, sizeof line, "SetFileSecurity() failed. Error %d\n", errorCode);
  }
  out << line << std::flush;
}

}  // namespace

void applyInstallationGrants(const std::string& programDirectory, std::ostream& out) {
  // The installation directory is the parent of the program directory.
  const std::filesystem::path programs =
      std::filesystem::path(programDirectory).lexically_normal().parent_path();
  const std::string installation = programs.parent_path().string();
  grant(installation + "/kv2.html", out);
  grant(programDirectory + "OSTREL_LANG.rcc", out);
  grant(programDirectory + "ini", out);
}

}  // namespace korvane::common
