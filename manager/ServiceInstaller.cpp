#include "manager/ServiceInstaller.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ProgramDirectory.h"
#include "platform/Process.h"

namespace korvane::manager {
namespace {

// How long the manager may take to stop its hubs (a four-second grace per stop, and room for
// the main loop to return) before systemd kills what is left.
constexpr int kStopTimeoutSeconds = 40;

bool runSystemctl(const ServiceEnvironment& environment, const std::vector<std::string>& args) {
  std::string ignored;
  auto process = platform::Process::spawn(environment.systemctl, args, &ignored);
  return process && process->waitForExit() == 0;
}

// Systemd stands for the service control manager: without it nothing can be registered.
bool systemdRuns(const ServiceEnvironment& environment, std::ostream& err) {
  std::error_code ec;
  if (std::filesystem::is_directory(environment.systemdRuntimeDirectory, ec)) {
    return true;
  }
  char line[96];
  std::snprintf(line, sizeof line, "Failed at OpenSCManager() GetLastError = %d\n", ENOENT);
  err << "TEST: " << line;
  return false;
}

bool writeUnitFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace

ServiceEnvironment ServiceEnvironment::fromEnvironment() {
  ServiceEnvironment environment;
  if (const char* dir = std::getenv("KORVANE_SYSTEMD_UNIT_DIR"); dir != nullptr && *dir != '\0') {
    environment.unitDirectory = dir;
  }
  if (const char* tool = std::getenv("KORVANE_SYSTEMCTL"); tool != nullptr && *tool != '\0') {
    environment.systemctl = tool;
    // A stand-in for systemctl stands in for a running systemd as well.
    environment.systemdRuntimeDirectory = environment.unitDirectory;
  }
  return environment;
}

std::string unitFileText(const std::string& programPath, const std::string& programDirectory) {
  std::string text;
  text += "[Unit]\n";
  text += "Description=" + std::string(kServiceName) + "\n";
  text += "After=network.target\n\n";
  text += "[Service]\n";
  text += "Type=notify\n";
  if (std::getenv(platform::kProgramDirectoryVariable) != nullptr) {
    text += "Environment=" + std::string(platform::kProgramDirectoryVariable) + "=" +
            programDirectory + "\n";
  }
  text += "ExecStart=" + programPath + "\n";
  // The stop signal goes to the manager alone, which stops its hubs in order; whatever is left
  // once it has ended is killed.
  text += "KillMode=mixed\n";
  text += "TimeoutStopSec=" + std::to_string(kStopTimeoutSeconds) + "\n\n";
  text += "[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return text;
}

bool installService(const ServiceEnvironment& environment, const std::string& programPath,
                    std::ostream& err) {
  const auto fail = [&](const char* line) {
    if (line != nullptr) {
      err << "TEST: " << line;
    }
    err << kServiceName << ": Failed to install service\n";
    return false;
  };
  if (!systemdRuns(environment, err)) {
    return fail(nullptr);
  }
  const std::string unitPath = environment.unitDirectory + "/" + kUnitName;
  if (!writeUnitFile(unitPath, unitFileText(programPath, platform::programDirectory()))) {
    return fail("Failed at CreateService()\n");
  }
  if (!runSystemctl(environment, {"daemon-reload"}) ||
      !runSystemctl(environment, {"enable", kUnitName})) {
    // A service that could not be registered leaves no unit behind.
    std::error_code ec;
    std::filesystem::remove(unitPath, ec);
    (void)runSystemctl(environment, {"daemon-reload"});
    return fail("Failed at CreateService()\n");
  }
  (void)runSystemctl(environment, {"start", kUnitName});
  return true;
}

bool uninstallService(const ServiceEnvironment& environment, std::ostream& err) {
  const auto fail = [&] {
    err << kServiceName << ": Failed to uninstall service\n";
    return false;
  };
  if (!systemdRuns(environment, err)) {
    return fail();
  }
  const std::string unitPath = environment.unitDirectory + "/" + kUnitName;
  if (!std::filesystem::exists(unitPath)) {
    return fail();
  }
  (void)runSystemctl(environment, {"stop", kUnitName});
  if (!runSystemctl(environment, {"disable", kUnitName})) {
    return fail();
  }
  std::error_code ec;
  if (!std::filesystem::remove(unitPath, ec)) {
    return fail();
  }
  (void)runSystemctl(environment, {"daemon-reload"});
  return true;
}

}  // namespace korvane::manager
