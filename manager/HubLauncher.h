#pragma once

#include <memory>
#include <string>

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

  /// Sends the stop command over the hub's control pipe without waiting for an answer; nothing
  /// happens when the pipe cannot be opened.
  static void sendStopCommand(int hubNumber);

 private:
  std::string program_;
  int managerProcessId_;
};

}  // namespace korvane::manager
