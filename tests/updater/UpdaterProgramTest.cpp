// The updater's programs as processes, and the product's own package installed into a private
// root.

#include <elf.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "manager/ServiceInstaller.h"
#include "platform/ProgramRun.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivatePackageRoot.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::updater {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string updaterProgram(const std::string& name) {
  return KORVANE_UPDATER_DIR + name;
}

bool onWideMachine() {
  utsname name{};
  return ::uname(&name) == 0 && std::string(name.machine) == "x86_64";
}

void makeScript(const std::string& path, const std::string& text) {
  testing::writeFile(path, text);
  fs::permissions(path, fs::perms(0755));
}

// Whether this build made the named rewriter (Vintrell32 needs a 32-bit tool chain).
bool rewriterBuilt(const std::string& name) {
  std::istringstream built(KORVANE_REWRITERS);
  for (std::string each; built >> each;) {
    if (each == name) {
      return true;
    }
  }
  return false;
}

// Product 1.0 installed into a private package root, and an unpacked update bundle that offers
// 2.0 beside copies of the named updater files.
struct UpdateScene {
  /// Makes the packages, installs the old one and copies `files`; use with
  /// ASSERT_NO_FATAL_FAILURE.
  void prepare(const std::vector<std::string>& files) {
    // Set first: the package tools are found along it, whatever an earlier test left there.
    setenv("PATH", (location() + "/nic:" + testing::kPackageToolPath).c_str(), 1);
    for (const std::string& file : files) {
      fs::copy_file(updaterProgram(file), bundle.path() + file);
    }
    testing::buildTestPackage({"1.0", true, true}, work.path(), work.path() + "old.deb");
    ASSERT_EQ(root.dpkg({"--install", work.path() + "old.deb"}), 0);
    testing::buildTestPackage({"2.0", true, true}, work.path(), bundle.path() + "package.deb");
  }

  /// How an updater program runs in the bundle, against the private root and with the stand-in
  /// configuration tool of the test package.
  testing::ChildProcess::Options options() const {
    testing::ChildProcess::Options options;
    options.workingDirectory = bundle.path();
    // dpkg tells of its work on standard output; the updater's message goes to standard error.
    options.outputFile = work.path() + "output";
    options.errorFile = work.path() + "message";
    options.environment = {"KORVANE_DPKG_ROOT=" + root.path(),
                           "KORVANE_TEST_TOOL_LOG=" + work.path() + "tool.log",
                           "KORVANE_TEST_SAVE_DIR=" + bundle.path() + "nicsettings",
                           "KORVANE_TEST_SAVE_FILES=harlow nic0.adf"};
    return options;
  }

  std::string location() const { return root.path() + "/opt/korvane"; }
  std::string message() const { return testing::readFile(work.path() + "message"); }

  /// Checks that 2.0 replaced 1.0 and the client adapter settings moved into it.
  void expectReplaced() const {
    EXPECT_EQ(message(), "Korvane 2 updater program: The update finished successfully.\n");
    EXPECT_EQ(root.installedVersion("korvane"), "2.0");
    EXPECT_EQ(testing::readFile(location() + "/nic/nicsettings/nic0.adf"), "nic0.adf\n");
    EXPECT_NE(testing::readFile(work.path() + "tool.log").find("restored harlow nic0.adf"),
              std::string::npos);
  }

  testing::TempProgramDir work;
  testing::TempProgramDir bundle;
  testing::PrivatePackageRoot root;
};

TEST(Soldane, StartsTheRewriterBesideItWithItsArguments) {
  if (!onWideMachine()) {
    GTEST_SKIP() << "the machine is not x86_64, which this test knows as 64-bit";
  }
  // Soldane is started from a folder that another user could write to, which holds a rewriter
  // of its own: only the one beside Soldane may run.
  testing::TempProgramDir bundle;
  testing::TempProgramDir elsewhere;
  fs::copy_file(updaterProgram("Soldane"), bundle.path() + "Soldane");
  makeScript(bundle.path() + "Vintrell64",
             "#!/bin/sh\necho \"$@\" >started.tmp\nmv started.tmp started\n");
  makeScript(elsewhere.path() + "Vintrell64", "#!/bin/sh\ntouch planted\n");
  testing::ChildProcess::Options options;
  options.workingDirectory = elsewhere.path();
  options.outputFile = elsewhere.path() + "output";
  setenv("PATH", (".:" + std::string(testing::kPackageToolPath)).c_str(), 1);
  testing::ChildProcess soldane(bundle.path() + "Soldane", {"fullset", "now"}, elsewhere.path(),
                                options);

  EXPECT_EQ(soldane.waitForExit(10s), 0);
  ASSERT_TRUE(testing::waitUntil([&] { return fs::exists(elsewhere.path() + "started"); }, 10s));
  EXPECT_EQ(testing::readFile(elsewhere.path() + "started"), "fullset now\n");
  EXPECT_FALSE(fs::exists(elsewhere.path() + "planted"));
}

TEST(Soldane, EndsWithZeroWhenTheRewriterIsMissing) {
  testing::TempProgramDir dir;
  testing::ChildProcess::Options options;
  options.workingDirectory = dir.path();
  options.outputFile = dir.path() + "output";
  setenv("PATH", dir.path().c_str(), 1);
  fs::copy_file(updaterProgram("Soldane"), dir.path() + "Soldane");
  testing::ChildProcess soldane(dir.path() + "Soldane", {"fullset"}, dir.path(), options);

  EXPECT_EQ(soldane.waitForExit(10s), 0);
  EXPECT_EQ(testing::readFile(dir.path() + "output"), "");
}

TEST(Soldane, FullSetReplacesTheInstalledProductFromThePackageBesideIt) {
  if (!onWideMachine()) {
    GTEST_SKIP() << "the machine is not x86_64, which this test knows as 64-bit";
  }
  UpdateScene scene;
  ASSERT_NO_FATAL_FAILURE(scene.prepare({"Soldane", "Vintrell64", "VintrellMessages.ini"}));
  testing::ChildProcess soldane(scene.bundle.path() + "Soldane", {"fullset"}, scene.bundle.path(),
                                scene.options());

  EXPECT_EQ(soldane.waitForExit(10s), 0);
  ASSERT_TRUE(testing::waitUntil([&] { return !scene.message().empty(); }, 60s));
  scene.expectReplaced();
}

// Each rewriter this build makes, run as the bundle holds it: both word sizes behave alike.
class Rewriter : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!rewriterBuilt(GetParam())) {
      GTEST_SKIP() << GetParam()
                   << " was not built: the build found no working tool chain for its word size "
                      "(for Vintrell32 on amd64: g++-multilib)";
    }
  }

  // Runs the rewriter of the bundle with `args` and gives its exit status; the message
  // file then holds this run's message alone.
  int run(const std::vector<std::string>& args) {
    fs::remove(scene_.work.path() + "message");
    testing::ChildProcess rewriter(scene_.bundle.path() + GetParam(), args, scene_.bundle.path(),
                                   scene_.options());
    return rewriter.waitForExit(60s).value_or(-1);
  }

  UpdateScene scene_;
};

TEST_P(Rewriter, IsBuiltForItsWordSize) {
  std::ifstream file(updaterProgram(GetParam()), std::ios::binary);
  char ident[EI_NIDENT] = {};
  ASSERT_TRUE(file.read(ident, sizeof ident));
  EXPECT_EQ(std::string(ident, SELFMAG), ELFMAG);
  EXPECT_EQ(ident[EI_CLASS], std::string(GetParam()) == "Vintrell32" ? ELFCLASS32 : ELFCLASS64);
}

TEST_P(Rewriter, WithoutModeChangesNothingAndSaysNothing) {
  ASSERT_NO_FATAL_FAILURE(scene_.prepare({GetParam(), "VintrellMessages.ini"}));
  EXPECT_EQ(run({"update"}), 0);
  EXPECT_EQ(scene_.message(), "");
  EXPECT_EQ(scene_.root.installedVersion("korvane"), "1.0");
}

TEST_P(Rewriter, RefusalShowsItsMessageAndChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(scene_.prepare({GetParam(), "VintrellMessages.ini"}));
  const std::string package = scene_.bundle.path() + "package.deb";
  struct Row {
    const char* mode;
    bool withPackage;
    std::string message;
  } const rows[] = {
      {"niconly", true,
       "The hub part is installed too, so a client-only update would remove it.\nRun the updater "
       "with \"fullset\" instead."},
      {"fullset", false, "The update package " + package + " cannot be opened."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    if (!row.withPackage) {
      fs::remove(package);
    }
    EXPECT_EQ(run({row.mode}), 255);
    EXPECT_EQ(scene_.message(), "Korvane 2 updater program: " + row.message + "\n");
    EXPECT_EQ(scene_.root.installedVersion("korvane"), "1.0");
  }
}

TEST_P(Rewriter, FullSetReplacesTheInstalledProduct) {
  ASSERT_NO_FATAL_FAILURE(scene_.prepare({GetParam(), "VintrellMessages.ini"}));
  EXPECT_EQ(run({"fullset"}), 0);
  scene_.expectReplaced();
}

INSTANTIATE_TEST_SUITE_P(BothWordSizes, Rewriter, ::testing::Values("Vintrell64", "Vintrell32"),
                         [](const auto& instance) { return std::string(instance.param); });

// The product's package as scripts/package makes it, from this build's programs.
class ProductPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("KORVANE_PROGRAM_DIR");
    setenv("PATH", testing::kPackageToolPath, 1);
    // Compression would only cost the test time.
    setenv("KORVANE_DEB_COMPRESSION", "none", 1);
    std::string err;
    const auto made = platform::runCapturing(std::string(KORVANE_SOURCE_DIR) + "packaging/make-deb",
                                             {KORVANE_BUILD_DIR, out_.path()}, 64 * 1024,
                                             std::chrono::minutes(5), &err);
    ASSERT_TRUE(made) << err;
    ASSERT_EQ(made->status, 0);
    package_ = made->output.substr(0, made->output.find('\n'));
  }

  std::string installed(const std::string& path) const { return root_.path() + path; }

  testing::TempProgramDir out_;
  testing::PrivatePackageRoot root_;
  std::string package_;
};

TEST_F(ProductPackage, InstallsTheDocumentedLayoutAndKeepsTheSettingsUntilPurged) {
  ASSERT_EQ(root_.dpkg({"--install", package_}), 0);

  const std::string programs = installed("/opt/korvane/hub/");
  for (const char* program : {"kvhub", "Tollmar", "kvctl"}) {
    SCOPED_TRACE(program);
    EXPECT_EQ(::access((programs + program).c_str(), X_OK), 0);
  }
  EXPECT_FALSE(fs::exists(installed("/opt/korvane/updater")));
  const std::string unit = "/lib/systemd/system/" + std::string(manager::kUnitName);
  EXPECT_EQ(testing::readFile(installed(unit)),
            manager::unitFileText("/opt/korvane/hub/Tollmar", "/opt/korvane/hub/"));
  EXPECT_EQ(fs::read_symlink(installed("/etc/systemd/system/multi-user.target.wants/") +
                             manager::kUnitName),
            unit);
  // Language packs and help, where the build makes them: the panel's beside the programs, the
  // help's in the installation folder.
  for (const char* name :
       {"OSTREL_LANG.rcc", "OSTREL_LANG.english.dat", "OSTREL_LANG.japanese.dat"}) {
    if (fs::exists(std::string(KORVANE_BUILD_DIR) + "hub/" + name)) {
      EXPECT_TRUE(fs::exists(programs + name)) << name;
    }
  }
  // Only administrators may open the settings; the default hub is configured.
  struct stat settings {};
  ASSERT_EQ(::stat((programs + "ini").c_str(), &settings), 0);
  EXPECT_EQ(settings.st_mode & 07777, 02770u);
  if (const group* administrators = ::getgrnam("sudo")) {
    EXPECT_EQ(settings.st_gid, administrators->gr_gid);
  }
  EXPECT_NE(testing::readFile(programs + "ini/Tollmar.ini").find("PortNo=7470"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(programs + "log"));

  testing::writeFile(programs + "ini/0001_account.ini", "[accounts]\n");
  ASSERT_EQ(root_.dpkg({"--remove", "korvane"}), 0);
  EXPECT_FALSE(fs::exists(programs + "kvhub"));
  EXPECT_EQ(testing::readFile(programs + "ini/0001_account.ini"), "[accounts]\n");
  ASSERT_EQ(root_.dpkg({"--install", package_}), 0);
  EXPECT_EQ(testing::readFile(programs + "ini/0001_account.ini"), "[accounts]\n");

  ASSERT_EQ(root_.dpkg({"--purge", "korvane"}), 0);
  EXPECT_FALSE(fs::exists(programs + "ini"));
  EXPECT_FALSE(
      fs::exists(installed("/etc/systemd/system/multi-user.target.wants/") + manager::kUnitName));
}

TEST_F(ProductPackage, UpdateBundleHoldsEveryRewriterBuiltAndThePackage) {
  // korvane_VERSION_ARCH.deb and korvane-update_VERSION_ARCH.tar.gz
  const std::string versionAndArch = fs::path(package_).stem().string().substr(8);
  const std::string bundle = out_.path() + "korvane-update_" + versionAndArch + ".tar.gz";
  std::string err;
  const auto listed = platform::runCapturing("/bin/tar", {"-tzf", bundle}, 64 * 1024,
                                             std::chrono::minutes(1), &err);
  ASSERT_TRUE(listed) << err;
  ASSERT_EQ(listed->status, 0);
  std::istringstream expected("Soldane VintrellMessages.ini package.deb " +
                              std::string(KORVANE_REWRITERS));
  for (std::string file; expected >> file;) {
    SCOPED_TRACE(file);
    EXPECT_NE(listed->output.find("korvane-update/" + file + "\n"), std::string::npos)
        << listed->output;
  }
}

}  // namespace
}  // namespace korvane::updater
