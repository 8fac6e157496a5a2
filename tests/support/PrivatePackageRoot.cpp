#include "tests/support/PrivatePackageRoot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/ProgramRun.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxToolOutputBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kToolLimit{120'000};

int runTool(const std::string& program, const std::vector<std::string>& args,
            std::string* output = nullptr) {
  std::string err;
  const auto run = platform::runCapturing(program, args, kMaxToolOutputBytes, kToolLimit, &err);
  if (!run) {
    ADD_FAILURE() << program << ": " << err;
    return -1;
  }
  if (output != nullptr) {
    *output = run->output;
  }
  return run->status;
}

constexpr const char* kToolStandIn = R"sh(#!/bin/sh
echo "$1 @VERSION@ $(pwd)" >>"$KORVANE_TEST_TOOL_LOG"
case "$1" in
save)
  mkdir -p "$KORVANE_TEST_SAVE_DIR"
  for name in $KORVANE_TEST_SAVE_FILES; do echo "$name" >"$KORVANE_TEST_SAVE_DIR/$name"; done
  exit "${KORVANE_TEST_SAVE_STATUS:-0}";;
restore)
  echo "restored" $(ls nicsettings) >>"$KORVANE_TEST_TOOL_LOG";;
esac
)sh";

}  // namespace

PrivatePackageRoot::PrivatePackageRoot() {
  std::string pattern = (fs::temp_directory_path() / "korvane-dpkg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a private package root";
    return;
  }
  path_ = pattern;
  fs::permissions(path_, fs::perms(0755));
  const std::string admin = path_ + "/var/lib/dpkg";
  for (const char* folder : {"/info", "/updates", "/triggers"}) {
    fs::create_directories(admin + folder);
  }
  writeFile(admin + "/status", "");
  writeFile(admin + "/available", "");
}

PrivatePackageRoot::~PrivatePackageRoot() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

int PrivatePackageRoot::dpkg(const std::vector<std::string>& args) const {
  std::vector<std::string> all = {"--root=" + path_, "--force-script-chrootless", "--log=/dev/null",
                                  "--force-depends"};
  all.insert(all.end(), args.begin(), args.end());
  return runTool("dpkg", all);
}

std::string PrivatePackageRoot::installedVersion(const std::string& package) const {
  std::string output;
  const int status =
      runTool("dpkg-query", {"--root=" + path_, "-W", "-f=${db:Status-Status} ${Version}", package},
              &output);
  const std::string installed = "installed ";
  return status == 0 && output.rfind(installed, 0) == 0 ? output.substr(installed.size()) : "";
}

void buildTestPackage(const TestPackage& package, const std::string& workDir,
                      const std::string& debPath) {
  const std::string tree = workDir + "/package-" + package.version;
  fs::remove_all(tree);
  const std::string location = tree + "/opt/korvane";
  fs::create_directories(tree + "/DEBIAN");
  fs::create_directories(location);
  writeFile(tree + "/DEBIAN/control", "Package: korvane\nVersion: " + package.version +
                                          "\nArchitecture: all\nMaintainer: Test <t@example.org>"
                                          "\nDescription: stand-in product\n test\n");
  if (package.client) {
    fs::create_directories(location + "/nic");
    // A real program, so that a running copy shows its own path as its program file.
    fs::copy_file("/bin/sleep", location + "/nic/Harlow");
    std::string tool = kToolStandIn;
    tool.replace(tool.find("@VERSION@"), 9, package.version);
    writeFile(location + "/nic/HarlowConfig", tool);
    fs::permissions(location + "/nic/HarlowConfig", fs::perms(0755));
  }
  if (package.hub) {
    fs::create_directories(location + "/hub");
    writeFile(location + "/hub/Ostrel", "hub panel");
  }
  if (!package.client && !package.hub) {
    writeFile(location + "/README", "neither part");
  }
  ASSERT_EQ(runTool("dpkg-deb", {"--root-owner-group", "--build", tree, debPath}), 0);
}

}  // namespace korvane::testing
