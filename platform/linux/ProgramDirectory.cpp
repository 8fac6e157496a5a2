#include "platform/ProgramDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvane::platform {

std::string programDirectory() {
  if (const char* overridden = std::getenv(kProgramDirectoryVariable);
      overridden != nullptr && *overridden != '\0') {
    std::string dir = overridden;
    if (dir.back() != '/') {
      dir += '/';
    }
    return dir;
  }
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return {};
  }
  return self.parent_path().string() + '/';
}

}  // namespace korvane::platform
