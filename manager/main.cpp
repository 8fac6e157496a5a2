// Tollmar: the hub manager. No argument (or two or more): run as the service. "I": install and
// start the service. "U": stop and remove it. "S": run in the foreground with Tollmar.log in the
// current directory. Any other single argument: nothing.

#include <fstream>
#include <iostream>
#include <string_view>

#include "common/ProgramPaths.h"
#include "common/RunThread.h"
#include "manager/ManagerService.h"
#include "manager/ServiceInstaller.h"
#include "platform/ProgramDirectory.h"
#include "platform/StopSignal.h"

namespace {

using namespace korvane;

int runService(std::ostream* foregroundLog) {
  manager::ManagerService service(
      {platform::programDirectory(), common::managerConfigPath(), foregroundLog},
      platform::systemClock());
  // SIGTERM (systemd's stop) and SIGINT (Ctrl-C in the foreground) are the stop control.
  platform::StopSignalWatcher stopSignals([&service] {
    common::runThread("StopSignalWatcher", [&] { service.stop(); }, manager::reportThreadFailure);
  });
  return service.run();
}

int runInForeground() {
  std::ofstream log("Tollmar.log", std::ios::app);
  return runService(&log);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return runService(nullptr);
  }
  const auto environment = manager::ServiceEnvironment::fromEnvironment();
  switch (argv[1][0]) {
    case 'I':
      manager::installService(environment, platform::executablePath(), std::cerr);
      return 0;
    case 'U':
      manager::uninstallService(environment, std::cerr);
      return 0;
    case 'S':
      return runInForeground();
    default:
      return 0;
  }
}
