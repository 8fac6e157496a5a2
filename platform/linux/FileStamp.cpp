#include "platform/FileStamp.h"

#include <sys/stat.h>

namespace korvane::platform {

std::optional<FileStamp> fileStamp(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
  return FileStamp{static_cast<std::int64_t>(status.st_mtim.tv_sec) * kNanosecondsPerSecond +
                       status.st_mtim.tv_nsec,
                   static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace korvane::platform
