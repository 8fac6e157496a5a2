#include "updater/PackageRewriter.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "platform/FileMove.h"
#include "platform/ProgramProcesses.h"
#include "platform/ProgramRun.h"
#include "updater/UpdateMode.h"
#include "updater/UpdaterMessages.h"

namespace korvane::updater {
namespace {

namespace fs = std::filesystem;

// Paths are built in buffers of this size, as the installer's answers are; a part whose path
// would not fit counts as not installed.
constexpr std::size_t kPathBufferBytes = 2048;

// The parts of an installation, by their key files below the installed location.
constexpr const char* kClientPanel = "nic/Harlow";
constexpr const char* kHubPanel = "hub/Ostrel";
constexpr const char* kConfigurationTool = "nic/HarlowConfig";
// The configuration tool as the updater first runs it: by bare name, from the updater's own
// folder or along PATH.
constexpr const char* kConfigurationToolName = "HarlowConfig";
// Files that the client's uninstall leaves in its folder.
constexpr const char* kLeftOverFiles[] = {"Vadap.inf", "HARLOW_LANG.rcc"};
// The folders of the part key files, whose parent is the installed location.
constexpr const char* kPartFolders[] = {"/hub", "/nic"};

// The messages, by their numbers in the messages file.
enum Message : int {
  kNotInstalled = 101,
  kInstallFailed = 103,
  kNoLocation = 104,
  kDone = 105,
  kHubInstalled = 106,
  kHubMissing = 107,
  kNoPackage = 108,
  kSaveFailed = 109,
  kUninstallFailed = 110,
  kRestoreFailed = 112,
  kClientInstallFailed = 113,
  kPackageNotSaved = 114,
};

// The folder of a path, without its last '/'.
std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isReadable(const std::string& path) {
  return !path.empty() && std::ifstream(path, std::ios::binary).is_open();
}

// The message that refuses an update of what is installed, or 0 to go on.
int refusalOf(bool client, bool hub, UpdateMode mode) {
  if (!client && !hub) {
    return kNotInstalled;
  }
  if (client && hub && mode == UpdateMode::kClientOnly) {
    return kHubInstalled;
  }
  if (client && !hub && mode == UpdateMode::kFullSet) {
    return kHubMissing;
  }
  return 0;
}

bool runTool(const std::string& program, const char* request, const std::string& directory) {
  return !program.empty() && platform::runAndWait(program, {request}, directory, nullptr) == 0;
}

// Moves the saved settings: "harlow", then nic0.adf, nic1.adf, ... up to the first that is
// missing; the old folder goes only when nothing is left in it.
void moveSettings(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directory(to, ec);
  std::string ignored;
  (void)platform::moveFileReplacing(from + "/harlow", to + "/harlow", &ignored);
  for (int i = 0;; ++i) {
    const std::string name = "/nic" + std::to_string(i) + ".adf";
    if (!platform::moveFileReplacing(from + name, to + name, &ignored)) {
      break;
    }
  }
  fs::remove(from, ec);
}

class Rewriter {
 public:
  explicit Rewriter(const RewriterSetup& setup)
      : setup_(setup), messages_(setup.programDirectory + kMessagesFileName, setup.messages) {}

  int run(UpdateMode mode);

 private:
  int fail(int number, const std::vector<std::string>& args = {}) {
    messages_.show(number, args);
    return -1;
  }

  // The folder the product's parts lie in, as the database names it; empty when it names none.
  std::string installedLocation() const {
    const auto paths = setup_.installer.installedPaths(kProductPackage);
    const std::set<std::string> listed(paths.begin(), paths.end());
    for (const std::string& path : paths) {
      for (const char* folder : kPartFolders) {
        if (listed.count(path + folder) != 0) {
          return path;
        }
      }
    }
    return {};
  }

  // Where a part's key file lies on disk; empty when there is no location or it does not fit.
  std::string partPath(const std::string& location, const char* part) const {
    if (location.empty()) {
      return {};
    }
    std::string path = setup_.installer.onDisk(location);
    if (!path.empty() && path.back() == '/') {
      path.pop_back();
    }
    path += std::string("/") + part;
    return path.size() < kPathBufferBytes ? path : std::string();
  }

  const RewriterSetup& setup_;
  UpdaterMessages messages_;
};

int Rewriter::run(UpdateMode mode) {
  const platform::InstallerDatabase& installer = setup_.installer;
  const std::string packagePath = setup_.programDirectory + kPackageFileName;
  const std::string oldSettings = setup_.programDirectory + "nicsettings";
  if (!isReadable(packagePath)) {
    return fail(kNoPackage, {packagePath});
  }
  if (!installer.isRegistered(kProductPackage)) {
    return fail(kNotInstalled);
  }
  const std::string location = installedLocation();
  const std::string clientPanel = partPath(location, kClientPanel);
  const std::string hubPanel = partPath(location, kHubPanel);
  if (const int refusal = refusalOf(isReadable(clientPanel), isReadable(hubPanel), mode)) {
    return fail(refusal);
  }
  const std::string hubSettings = directoryOf(hubPanel) + "/ini";
  const std::string hubLogs = directoryOf(hubPanel) + "/log";

  if (!runTool(platform::findProgram(kConfigurationToolName, setup_.programDirectory), "save",
               "")) {
    return fail(kSaveFailed);
  }
  // Once uninstalled, the old product can only come back from a package file: keep one.
  const std::string savedPackage = setup_.programDirectory + kSavedPackageFileName;
  std::string err;
  if (!installer.saveInstalledPackage(kProductPackage, savedPackage, &err)) {
    return fail(kPackageNotSaved, {savedPackage, err});
  }
  if (installer.uninstall(kProductPackage) != 0) {
    return fail(kUninstallFailed);
  }
  for (const char* name : kLeftOverFiles) {
    std::error_code ec;
    fs::remove(directoryOf(clientPanel) + "/" + name, ec);
  }
  if (!clientPanel.empty()) {
    platform::endProcessesRunning(clientPanel);
  }
  if (const int code = installer.install(packagePath); code != 0) {
    if (mode == UpdateMode::kFullSet) {
      return fail(kInstallFailed, {std::to_string(code), hubSettings, hubLogs, savedPackage});
    }
    return fail(kClientInstallFailed, {std::to_string(code), savedPackage});
  }
  std::error_code ec;
  fs::remove(savedPackage, ec);

  setup_.clock.sleepFor(kSettleTime);
  const std::string tool = partPath(installedLocation(), kConfigurationTool);
  if (tool.empty()) {
    return fail(kNoLocation, {kConfigurationToolName});
  }
  const std::string toolDirectory = directoryOf(tool);
  const std::string newSettings = toolDirectory + "/nicsettings";
  moveSettings(oldSettings, newSettings);
  if (!runTool(tool, "restore", toolDirectory)) {
    return fail(kRestoreFailed, {newSettings});
  }
  messages_.show(kDone);
  return 0;
}

}  // namespace

int rewritePackage(const std::string& commandLine, const RewriterSetup& setup) {
  const UpdateMode mode = updateModeOf(commandLine);
  if (mode == UpdateMode::kNone) {
    return 0;
  }
  return Rewriter(setup).run(mode);
}

}  // namespace korvane::updater
