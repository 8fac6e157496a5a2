#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/ManualClock.h"
#include "tests/support/PrivatePackageRoot.h"
#include "tests/support/TempProgramDir.h"
#include "updater/PackageRewriter.h"
#include "updater/UpdaterMessages.h"

namespace korvane::updater {
namespace {

namespace fs = std::filesystem;
using testing::buildTestPackage;
using testing::TestPackage;

// Messages that name themselves and their arguments, so that a test sees which one was shown.
constexpr const char* kTestMessages =
    "[MESSAGES]\n101=M101\n103=M103 %d %s %s %s\n104=M104 %s\n105=M105\n106=M106\n107=M107\n"
    "108=M108 %s\n109=M109\n110=M110\n112=M112 %s\n113=M113 %d %s\n114=M114 %s %s\n";

class PackageRewriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeFile(updaterDir_.path() + kMessagesFileName, kTestMessages);
    // The old configuration tool is found by its bare name, as the client product puts it on the
    // search path.
    setenv("PATH", (location() + "/nic:" + testing::kPackageToolPath).c_str(), 1);
    setenv("KORVANE_TEST_TOOL_LOG", toolLog().c_str(), 1);
    setenv("KORVANE_TEST_SAVE_DIR", oldSettings().c_str(), 1);
    setenv("KORVANE_TEST_SAVE_FILES", "harlow nic0.adf nic1.adf", 1);
    unsetenv("KORVANE_TEST_SAVE_STATUS");
  }

  void install(const TestPackage& package) {
    const std::string deb = work_.path() + "installed-" + package.version + ".deb";
    buildTestPackage(package, work_.path(), deb);
    ASSERT_EQ(root_.dpkg({"--install", deb}), 0);
  }
  void offer(const TestPackage& package) {
    buildTestPackage(package, work_.path(), updaterDir_.path() + kPackageFileName);
  }

  int update(const std::string& commandLine) {
    messages_.str("");
    return rewritePackage(commandLine, {updaterDir_.path(), installer_, clock_, messages_});
  }

  std::string location() const { return root_.path() + "/opt/korvane"; }
  std::string oldSettings() const { return updaterDir_.path() + "nicsettings"; }
  std::string newSettings() const { return location() + "/nic/nicsettings"; }
  std::string savedPackage() const { return updaterDir_.path() + kSavedPackageFileName; }
  std::string toolLog() const { return work_.path() + "tool.log"; }
  std::string shown() const { return messages_.str(); }

  testing::TempProgramDir updaterDir_;
  testing::TempProgramDir work_;
  testing::PrivatePackageRoot root_;
  platform::InstallerDatabase installer_{root_.path()};
  testing::ManualClock clock_;
  std::ostringstream messages_;
};

std::string captioned(const std::string& text) {
  return std::string(kCaption) + ": " + text + "\n";
}

TEST_F(PackageRewriterTest, FullSetReplacesTheProductAndKeepsTheAdapterSettings) {
  install({"1.0", true, true});
  offer({"2.0", true, true});
  testing::ChildProcess installedPanel(location() + "/nic/Harlow", {"600"}, updaterDir_.path());
  // The same program started from another folder is not the installed client panel.
  fs::copy_file(location() + "/nic/Harlow", work_.path() + "Harlow");
  testing::ChildProcess otherPanel(work_.path() + "Harlow", {"600"}, updaterDir_.path());
  ASSERT_TRUE(testing::waitUntil(
      [&] { return fs::exists("/proc/" + std::to_string(otherPanel.pid()) + "/exe"); },
      std::chrono::seconds(5)));

  EXPECT_EQ(update("fullset"), 0);

  EXPECT_EQ(shown(), captioned("M105"));
  EXPECT_EQ(root_.installedVersion(kProductPackage), "2.0");
  // The old tool saved by its bare name; the new one restored in its own folder, with every
  // saved file in place.
  EXPECT_EQ(testing::readFile(toolLog()), "save 1.0 " + fs::current_path().string() +
                                              "\nrestore 2.0 " + location() +
                                              "/nic\nrestored harlow nic0.adf nic1.adf\n");
  EXPECT_FALSE(fs::exists(oldSettings()));
  EXPECT_EQ(installedPanel.waitForExit(std::chrono::seconds(5)), -9);
  EXPECT_FALSE(otherPanel.waitForExit(std::chrono::milliseconds(0)).has_value());
  EXPECT_FALSE(fs::exists(savedPackage()));
  EXPECT_EQ(clock_.tickCount(), kSettleTime.count());
}

TEST_F(PackageRewriterTest, DecidesByTheInstalledPartsAndTheMode) {
  // A row that goes on reaches the saving of the settings, which fails here (109).
  struct Row {
    const char* name;
    bool installed, client, hub;
    const char* commandLine;
    const char* message;
  } const rows[] = {
      {"both parts, client only", true, true, true, "niconly", "M106"},
      {"both parts, full set", true, true, true, "fullset", "M109"},
      {"both modes named: full set", true, true, true, "niconly fullset", "M109"},
      {"client part, full set", true, true, false, "fullset", "M107"},
      {"client part, client only", true, true, false, "niconly", "M109"},
      {"no part, full set", true, false, false, "fullset", "M101"},
      {"no part, client only", true, false, false, "niconly", "M101"},
      {"hub part, full set", true, false, true, "fullset", "M109"},
      {"hub part, client only", true, false, true, "niconly", "M109"},
      {"not installed", false, true, true, "fullset", "M101"},
  };
  setenv("KORVANE_TEST_SAVE_STATUS", "1", 1);
  // A hub-only installation has no configuration tool of its own to find.
  fs::create_directories(work_.path() + "bin");
  testing::writeFile(work_.path() + "bin/HarlowConfig", "#!/bin/sh\nexit 1\n");
  fs::permissions(work_.path() + "bin/HarlowConfig", fs::perms(0755));
  setenv("PATH", (work_.path() + "bin:" + testing::kPackageToolPath).c_str(), 1);
  offer({"2.0", true, true});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    root_.dpkg({"--purge", kProductPackage});
    if (row.installed) {
      install({"1.0", row.client, row.hub});
    }
    EXPECT_EQ(update(row.commandLine), -1);
    EXPECT_EQ(shown(), captioned(row.message));
    EXPECT_EQ(root_.installedVersion(kProductPackage), row.installed ? "1.0" : "");
  }
}

TEST_F(PackageRewriterTest, CommandLineWithoutModeDoesNothing) {
  install({"1.0", true, true});
  offer({"2.0", true, true});
  EXPECT_EQ(update("update"), 0);
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(root_.installedVersion(kProductPackage), "1.0");
}

TEST_F(PackageRewriterTest, MissingPackageNamesItsFullPath) {
  install({"1.0", true, true});
  EXPECT_EQ(update("fullset"), -1);
  EXPECT_EQ(shown(), captioned("M108 " + updaterDir_.path() + kPackageFileName));
}

TEST_F(PackageRewriterTest, SettingsMoveUpToTheFirstMissingNumber) {
  struct Row {
    const char* saved;
    const char* restored;
    const char* left;  // in the old settings folder afterwards; empty when it is gone
  } const rows[] = {
      {"harlow", "restored harlow", ""},
      {"harlow nic0.adf nic2.adf", "restored harlow nic0.adf", "nic2.adf"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.saved);
    root_.dpkg({"--purge", kProductPackage});
    fs::remove_all(oldSettings());
    fs::remove(toolLog());
    install({"1.0", true, true});
    offer({"2.0", true, true});
    setenv("KORVANE_TEST_SAVE_FILES", row.saved, 1);

    EXPECT_EQ(update("fullset"), 0);

    EXPECT_NE(testing::readFile(toolLog()).find(std::string("\n") + row.restored + "\n"),
              std::string::npos)
        << testing::readFile(toolLog());
    std::string left;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(oldSettings(), missing)) {
      left += entry.path().filename().string();
    }
    EXPECT_EQ(left, row.left);
  }
}

TEST_F(PackageRewriterTest, FailedInstallationKeepsTheOldProductAsAPackage) {
  install({"1.0", true, true});
  // Opens, but is no package: dpkg fails with status 1.
  testing::writeFile(updaterDir_.path() + kPackageFileName, "not a package");

  EXPECT_EQ(update("fullset"), -1);

  EXPECT_EQ(root_.installedVersion(kProductPackage), "");
  const std::string message = shown();
  const std::string hub = location() + "/hub/";
  EXPECT_EQ(message, captioned("M103 1 " + hub + "ini " + hub + "log " + savedPackage()));
  // The saved package gives the old product back, its client tool included.
  ASSERT_EQ(root_.dpkg({"--install", savedPackage()}), 0);
  EXPECT_EQ(root_.installedVersion(kProductPackage), "1.0");
  EXPECT_NE(testing::readFile(location() + "/nic/HarlowConfig").find("1.0"), std::string::npos);
  EXPECT_TRUE(fs::exists(location() + "/nic/Harlow"));
}

}  // namespace
}  // namespace korvane::updater
