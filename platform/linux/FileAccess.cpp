#include "platform/FileAccess.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/linux/Errno.h"

namespace korvane::platform {

namespace {

// Room for a group entry with its member list; getgrnam_r asks for more with ERANGE.
constexpr std::size_t kGroupBufferBytes = 4096;
// A group with thousands of members needs more; no real group needs more than this.
constexpr std::size_t kMaxGroupBufferBytes = 1024 * 1024;

// The group's id, or none when the machine has no group of that name.
std::optional<gid_t> groupId(const char* name) {
  std::vector<char> buffer(kGroupBufferBytes);
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int error = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxGroupBufferBytes) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) {
      return std::nullopt;
    }
    return found->gr_gid;
  }
}

bool failAt(const char* call, const std::string& path, int* errorCode, std::string* err) {
  const SystemError error = errnoError(std::string(call) + " " + path);
  *errorCode = error.code;
  *err = error.text();
  return false;
}

// The rights that the grant gives: read and write for owner and group, search for a folder and
// its files made the group's; write for others never, and for a folder no right at all.
mode_t grantedMode(const struct stat& info, bool forGroup) {
  mode_t mode = info.st_mode & 07777;
  mode |= S_IRUSR | S_IWUSR;
  if (forGroup) {
    mode |= S_IRGRP | S_IWGRP;
  }
  if (!S_ISDIR(info.st_mode)) {
    return mode & ~mode_t{S_IWOTH};
  }
  mode |= S_IXUSR;
  if (forGroup) {
    mode |= S_IXGRP | S_ISGID;
  }
  return mode & ~mode_t{S_IRWXO};
}

}  // namespace

bool grantAdministratorsAccess(const std::string& path, int* errorCode, std::string* err) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return failAt("stat", path, errorCode, err);
  }
  const std::optional<gid_t> group = groupId(kAdministratorsGroup);
  // The group changes first: for that moment the administrators hold the old group's rights,
  // never more than the grant gives them, and others keep what they had.
  if (group && info.st_gid != *group && chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) {
    return failAt("chown", path, errorCode, err);
  }
  if (chmod(path.c_str(), grantedMode(info, group.has_value())) != 0) {
    failAt("chmod", path, errorCode, err);
    // The path stays as it was: its old group takes its place again.
    (void)chown(path.c_str(), static_cast<uid_t>(-1), info.st_gid);
    return false;
  }
  return true;
}

}  // namespace korvane::platform
