#include "manager/ServiceInstaller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include <unistd.h>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::readFile;

class ServiceInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    units_ = dir_.path() + "units";
    std::filesystem::create_directory(units_);
    calls_ = dir_.path() + "systemctl-calls.txt";
    // A stand-in for systemctl that writes down how it was called.
    recorder_ = dir_.path() + "systemctl";
    testing::writeFile(recorder_, "#!/bin/sh\necho \"$*\" >>'" + calls_ + "'\n");
    std::filesystem::permissions(recorder_, std::filesystem::perms::owner_all);
  }

  // Runs Tollmar with one argument and returns what it wrote to standard error.
  std::string runTollmar(const std::string& argument, const std::string& systemctl) {
    const std::string output = dir_.path() + "tollmar-output.txt";
    std::filesystem::remove(output);
    ChildProcess tollmar(testing::builtProgram("Tollmar"), {argument}, dir_.path(),
                         ChildProcess::Options{output, "", {"KORVANE_SYSTEMD_UNIT_DIR=" + units_,
                                                            "KORVANE_SYSTEMCTL=" + systemctl},
                                               ""});
    EXPECT_EQ(tollmar.waitForExit(10s), 0);
    return readFile(output);
  }

  std::string unitPath() const { return units_ + "/" + kUnitName; }

  testing::TempProgramDir dir_;
  std::string units_;
  std::string calls_;
  std::string recorder_;
};

TEST_F(ServiceInstallerTest, InstallWritesTheUnitThenEnablesAndStartsIt) {
  EXPECT_EQ(runTollmar("I", recorder_), "");

  const std::string unit = readFile(unitPath());
  EXPECT_NE(unit.find("Description=Korvane Virtual Hub Manager\n"), std::string::npos);
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=" + testing::builtProgram("Tollmar") + "\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_EQ(readFile(calls_),
            "daemon-reload\nenable korvane-virtual-hub-manager.service\n"
            "start korvane-virtual-hub-manager.service\n");
}

TEST_F(ServiceInstallerTest, UninstallStopsDisablesAndRemovesTheUnit) {
  ASSERT_EQ(runTollmar("I", recorder_), "");
  std::filesystem::remove(calls_);

  EXPECT_EQ(runTollmar("U", recorder_), "");
  EXPECT_FALSE(testing::fileExists(unitPath()));
  EXPECT_EQ(readFile(calls_),
            "stop korvane-virtual-hub-manager.service\n"
            "disable korvane-virtual-hub-manager.service\ndaemon-reload\n");
}

TEST_F(ServiceInstallerTest, FailuresAreReportedOnStandardError) {
  EXPECT_EQ(runTollmar("I", "/bin/false"),
            "TEST: Failed at CreateService()\n"
            "Korvane Virtual Hub Manager: Failed to install service\n");
  EXPECT_EQ(runTollmar("U", recorder_),
            "Korvane Virtual Hub Manager: Failed to uninstall service\n")
      << "nothing is installed to remove";
}

TEST(ServiceInstaller, WithoutSystemdNothingIsInstalled) {
  testing::TempProgramDir dir;
  ServiceEnvironment environment;
  environment.unitDirectory = dir.path();
  environment.systemctl = "/bin/true";
  environment.systemdRuntimeDirectory = dir.path() + "no-such-folder";
  std::ostringstream err;
  EXPECT_FALSE(installService(environment, "/opt/korvane/hub/Tollmar", err));
  EXPECT_EQ(err.str(),
            "TEST: Failed at OpenSCManager() GetLastError = 2\n"
            "Korvane Virtual Hub Manager: Failed to install service\n");
  EXPECT_FALSE(testing::fileExists(dir.path() + kUnitName));
}

TEST(ServiceInstaller, InstallsStartsStopsAndRemovesWithSystemd) {
  if (!std::filesystem::is_directory("/run/systemd/system")) {
    GTEST_SKIP() << "systemd does not run on this machine";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "installing a service needs root";
  }
  testing::TempProgramDir dir;
  const std::string output = dir.path() + "out.txt";
  ChildProcess install(testing::builtProgram("Tollmar"), {"I"}, dir.path(), output);
  ASSERT_EQ(install.waitForExit(60s), 0);
  ChildProcess active("/bin/systemctl", {"is-active", "--quiet", kUnitName}, dir.path());
  EXPECT_EQ(active.waitForExit(30s), 0) << readFile(output);
  ChildProcess uninstall(testing::builtProgram("Tollmar"), {"U"}, dir.path(), output);
  EXPECT_EQ(uninstall.waitForExit(60s), 0);
  EXPECT_FALSE(testing::fileExists(std::string("/etc/systemd/system/") + kUnitName));
  EXPECT_EQ(readFile(output), "");
}

}  // namespace
}  // namespace korvane::manager
