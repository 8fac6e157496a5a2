#pragma once

#include <memory>
#include <chrono>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Process.h"

namespace korvane::manager {

/// Starts hub processes and tells them to stop.
class HubLauncher {
 public:
  /// Hubs are the program `kvhub` in `programDirectory` (ending in '/'); they are told the
  /// process id `managerProcessId`, so that each ends by itself when the manager is gone.
  HubLauncher(std::string programDirectory, int managerProcessId);

  /// Starts hub `hubNumber` as "kvhub NNNN MANAGER-PID". Null when it cannot be started.
  std::shared_ptr<platform::Process> launch(int hubNumber) const;

  /// Sends the stop command over the hub's control pipe without waiting for an answer. False
  /// when the pipe cannot be opened (no hub serves it, or not yet).
  static bool sendStopCommand(int hubNumber);

 private:
  std::string program_;
  int managerProcessId_;
};

/// A hub process to be stopped.
struct HubToStop {
  int hubNumber = 0;
  std::shared_ptr<platform::Process> process;
  bool told = false;  ///< the stop command reached its control pipe
};

/// Tells every hub to stop and waits until all have ended or `grace` has passed; a hub whose
/// control pipe is not open yet (one still starting) is told again at every look. Hubs still
/// running after the grace are killed.
void stopHubProcesses(std::vector<HubToStop> hubs, std::chrono::milliseconds grace,
                      const platform::Clock& clock);

}  // namespace korvane::manager
