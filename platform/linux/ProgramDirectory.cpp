#include "platform/ProgramDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvane::platform {

std::string executablePath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

std::string programDirectory() {
  if (const char* overridden = std::getenv(kProgramDirectoryVariable);
      overridden != nullptr && *overridden != '\0') {
    std::string dir = overridden;
    if (dir.back() != '/') {
      dir += '/';
    }
    return dir;
  }
  const std::string self = executablePath();
  if (self.empty()) {
    return {};
  }
  return std::filesystem::path(self).parent_path().string() + '/';
}

}  // namespace korvane::platform
