#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Administrator.h"
#include "platform/FileAccess.h"

namespace korvane::platform {
namespace {

// The answer of a child process that runs as user nobody with `groups` as its only groups.
bool administratorAsNobody(const std::vector<gid_t>& groups) {
  const pid_t child = fork();
  if (child == 0) {
    const gid_t nogroup = 65534;
    const uid_t nobody = 65534;
    if (setgroups(groups.size(), groups.data()) != 0 || setresgid(nogroup, nogroup, nogroup) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
      _exit(2);
    }
    _exit(isAdministrator() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "cannot become nobody";
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(Administrator, RootOrTheAdministratorsGroup) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root may run a process as another user";
  }
  const group* administrators = getgrnam(kAdministratorsGroup);
  if (administrators == nullptr) {
    GTEST_SKIP() << "this machine has no administrators' group";
  }
  EXPECT_TRUE(isAdministrator());
  EXPECT_FALSE(administratorAsNobody({}));
  EXPECT_FALSE(administratorAsNobody({0}));  // root's group is not the administrators'
  EXPECT_TRUE(administratorAsNobody({0, administrators->gr_gid}));
}

}  // namespace
}  // namespace korvane::platform
