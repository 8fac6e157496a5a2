#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

#include "common/InstallationGrants.h"
#include "platform/FileAccess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

namespace fs = std::filesystem;

// Giving a path to the administrators' group takes root, unless the test's user is in it.
#define REQUIRE_ROOT()                                                       \
  if (geteuid() != 0) {                                                      \
    GTEST_SKIP() << "only root may give files to the administrators' group"; \
  }                                                                          \
  if (getgrnam(platform::kAdministratorsGroup) == nullptr) {                 \
    GTEST_SKIP() << "this machine has no administrators' group";             \
  }

gid_t groupOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_gid : static_cast<gid_t>(-1);
}

gid_t administrators() {
  return getgrnam(platform::kAdministratorsGroup)->gr_gid;
}

TEST(InstallationGrants, GivesThePanelsFilesToTheAdministratorsAndReportsMissingOnes) {
  REQUIRE_ROOT();
  testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  fs::create_directories(programs + "ini");
  testing::writeFile(programs + "OSTREL_LANG.rcc", "library");
  struct Case {
    const char* what;
    fs::perms before;
  };
  // Private paths, and paths that an earlier version opened to every user.
  for (const Case& c : {Case{"private", fs::perms::owner_read | fs::perms::owner_write},
                        Case{"open to all", fs::perms::all}}) {
    SCOPED_TRACE(c.what);
    const auto anyExec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(programs + "OSTREL_LANG.rcc", c.before & ~anyExec);
    fs::permissions(programs + "ini", c.before | fs::perms::owner_exec);

    std::ostringstream out;
    applyInstallationGrants(programs, out);

    // The help file kv2.html is missing: its line is printed and the other two are still granted.
    EXPECT_EQ(out.str(), "GetFileSecurity() failed. Error 2\n");
    const auto groupReadWrite = fs::perms::group_read | fs::perms::group_write;
    const auto library = fs::status(programs + "OSTREL_LANG.rcc").permissions();
    EXPECT_EQ(groupOf(programs + "OSTREL_LANG.rcc"), administrators());
    EXPECT_EQ(library & groupReadWrite, groupReadWrite);
    EXPECT_EQ(library & fs::perms::others_write, fs::perms::none);
    EXPECT_EQ(library & fs::perms::group_exec, fs::perms::none) << "a file is not made executable";
    // Files made in the folder are the group's too; others may not even look into it.
    const auto ini = fs::status(programs + "ini").permissions();
    EXPECT_EQ(groupOf(programs + "ini"), administrators());
    EXPECT_EQ(ini & (fs::perms::group_all | fs::perms::set_gid),
              fs::perms::group_all | fs::perms::set_gid);
    EXPECT_EQ(ini & fs::perms::others_all, fs::perms::none);
  }
}

TEST(InstallationGrants, KeepsRightsAlreadyGiven) {
  REQUIRE_ROOT();
  testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  fs::create_directories(programs + "ini");
  testing::writeFile(dir.path() + "kv2.html", "help");
  fs::permissions(dir.path() + "kv2.html",
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_read);
  testing::writeFile(programs + "OSTREL_LANG.rcc", "library");

  std::ostringstream out;
  applyInstallationGrants(programs, out);

  EXPECT_EQ(out.str(), "");
  // Every user may still read the help; the panel that shows it runs as any of them.
  const auto kept = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_read;
  EXPECT_EQ(fs::status(dir.path() + "kv2.html").permissions() & kept, kept);
}

TEST(InstallationGrants, WithoutTheRightToChangeNothingChanges) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root may change the rights of every file";
  }
  testing::TempProgramDir dir;
  std::ostringstream out;
  applyInstallationGrants("/usr/lib/", out);  // not ours to change
  EXPECT_NE(out.str().find("SetFileSecurity() failed. Error 1\n"), std::string::npos);
}

TEST(InstallationGrants, AnotherUserCanNeitherReadNorChangeTheIniFolder) {
  REQUIRE_ROOT();
  testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  fs::create_directories(programs + "ini");
  // Everything up to the folder is open, so that only the grants stand in the other user's way.
  fs::permissions(dir.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  const auto asNobody = [&](const std::vector<std::string>& args) {
    std::vector<std::string> command = {"--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    command.insert(command.end(), args.begin(), args.end());
    return testing::runProgram("/usr/bin/setpriv", command, programs);
  };
  const std::string kvctlProgram = testing::builtProgram("kvctl");
  const auto kvctl = [&](std::vector<std::string> args, bool byNobody) {
    if (!byNobody) {
      return testing::runProgram(kvctlProgram, args, programs);
    }
    args.insert(args.begin(), kvctlProgram);
    return asNobody(args);
  };
  ASSERT_EQ(kvctl({"hub", "create", "Office"}, false).status, 0);
  testing::writeFile(dir.path() + "password", "secret\n");
  fs::permissions(dir.path() + "password", fs::perms::owner_read | fs::perms::others_read);
  const std::vector<std::string> add = {
      "account", "add", "1", "intruder", "--password-file", dir.path() + "password"};
  ASSERT_EQ(kvctl(add, false).status, 0);
  // An account file of an earlier version, readable by all.
  const std::string accounts = programs + "ini/0001_account.ini";
  fs::permissions(accounts, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
  const std::string accountsBefore = testing::readFile(accounts);
  const std::string config = programs + "ini/Tollmar.ini";
  const std::string configBefore = testing::readFile(config);
  std::ostringstream out;
  applyInstallationGrants(programs, out);

  const testing::ProgramResult added = kvctl(add, true);
  EXPECT_NE(added.status, 0);
  EXPECT_NE(added.err.find("Permission denied"), std::string::npos)
      << "the refusal says why, not that the hub is missing: " << added.err;
  EXPECT_NE(asNobody({"/bin/cat", accounts}).status, 0) << "the passwords stay unread";
  EXPECT_NE(asNobody({"/bin/sh", "-c", "echo [Hub] > " + config}).status, 0)
      << "the hubs' settings stay as the administrators made them";
  EXPECT_EQ(testing::readFile(accounts), accountsBefore);
  EXPECT_EQ(testing::readFile(config), configBefore);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(programs + "ini")) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"0001_account.ini", "Tollmar.ini"}));

  // The next change by an administrator gives the old account file to the group, closed to
  // others.
  ASSERT_EQ(
      kvctl({"account", "add", "1", "second", "--password-file", dir.path() + "password"}, false)
          .status,
      0);
  EXPECT_EQ(groupOf(accounts), administrators());
  EXPECT_EQ(fs::status(accounts).permissions() & fs::perms::others_all, fs::perms::none);
}

}  // namespace
}  // namespace korvane::common
