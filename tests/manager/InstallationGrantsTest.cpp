#include "manager/InstallationGrants.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

namespace fs = std::filesystem;

TEST(InstallationGrants, OpensThePanelsFilesToEveryUserAndReportsMissingOnes) {
  testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  fs::create_directories(programs + "ini");
  fs::permissions(programs + "ini", fs::perms::owner_all);
  testing::writeFile(programs + "OSTREL_LANG.dll", "library");
  fs::permissions(programs + "OSTREL_LANG.dll", fs::perms::owner_read | fs::perms::owner_write);

  std::ostringstream out;
  applyInstallationGrants(programs, out);

  // The help file kv2.chm is missing: its line is printed and the other two are still granted.
  EXPECT_EQ(out.str(), "GetFileSecurity() failed. Error 2\n");
  const auto everyoneReadWrite = fs::perms::others_read | fs::perms::others_write;
  const auto library = fs::status(programs + "OSTREL_LANG.dll").permissions();
  EXPECT_EQ(library & everyoneReadWrite, everyoneReadWrite);
  EXPECT_EQ(library & fs::perms::others_exec, fs::perms::none) << "a file is not made executable";
  const auto ini = fs::status(programs + "ini").permissions();
  EXPECT_EQ(ini & fs::perms::others_all, fs::perms::others_all);
}

TEST(InstallationGrants, KeepsRightsAlreadyGiven) {
  testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  fs::create_directories(programs + "ini");
  testing::writeFile(dir.path() + "kv2.chm", "help");
  fs::permissions(dir.path() + "kv2.chm", fs::perms::owner_all | fs::perms::group_exec);
  testing::writeFile(programs + "OSTREL_LANG.dll", "library");

  std::ostringstream out;
  applyInstallationGrants(programs, out);

  EXPECT_EQ(out.str(), "");
  const auto help = fs::status(dir.path() + "kv2.chm").permissions();
  EXPECT_EQ(help & (fs::perms::owner_exec | fs::perms::group_exec),
            fs::perms::owner_exec | fs::perms::group_exec);
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

}  // namespace
}  // namespace korvane::manager
