#include "platform/Administrator.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/FileAccess.h"

namespace korvane::platform {

bool isAdministrator() {
  if (geteuid() == 0) {
    return true;
  }
  const group* administrators = getgrnam(kAdministratorsGroup);
  if (administrators == nullptr) {
    return false;  // no such group on this machine: only root administers
  }
  const gid_t wanted = administrators->gr_gid;
  if (getegid() == wanted) {
    return true;
  }
  const int count = getgroups(0, nullptr);
  if (count <= 0) {
    return false;
  }
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int listed = getgroups(count, groups.data());
  return listed > 0 &&
         std::find(groups.begin(), groups.begin() + listed, wanted) != groups.begin() + listed;
}

}  // namespace korvane::platform
