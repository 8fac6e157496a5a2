#include "platform/FileAccess.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace korvane::platform {

bool grantEveryoneFullAccess(const std::string& path, int* errorCode, std::string* err) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *errorCode = errno;
    *err = "stat " + path + ": " + std::strerror(errno);
    return false;
  }
  mode_t mode = info.st_mode & 07777;
  mode |= S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if (S_ISDIR(info.st_mode)) {
    mode |= S_IXUSR | S_IXGRP | S_IXOTH;
  }
  if (chmod(path.c_str(), mode) != 0) {
    *errorCode = errno;
    *err = "chmod " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace korvane::platform
