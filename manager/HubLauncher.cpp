#include "manager/HubLauncher.h"

#include <cstdio>
#include <string>
#include <vector>

#include "common/ControlMessage.h"
#include "platform/LocalPipe.h"

namespace korvane::manager {

HubLauncher::HubLauncher(std::string programDirectory, int managerProcessId)
    : program_(std::move(programDirectory) + "kvhub"), managerProcessId_(managerProcessId) {}

std::shared_ptr<platform::Process> HubLauncher::launch(int hubNumber) const {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", hubNumber);
  std::string err;
  auto process =
      platform::Process::spawn(program_, {number, std::to_string(managerProcessId_)}, &err);
  if (!process) {
    return nullptr;
  }
  return std::make_shared<platform::Process>(std::move(*process));
}

bool HubLauncher::sendStopCommand(int hubNumber) {
  std::string err;
  auto pipe = platform::openPipe(common::hubPipeName(hubNumber), &err);
  if (!pipe) {
    return false;
  }
  common::ControlHeader request;
  request.command = static_cast<std::uint32_t>(common::HubCommand::kStop);
  const bool written = pipe->writeAll(common::encodeControlHeader(request));
  pipe->close();
  return written;
}

void stopHubProcesses(std::vector<HubToStop> hubs, std::chrono::milliseconds grace,
                      const platform::Clock& clock) {
  // How often the hubs are looked at (and the ones not reached yet told again).
  constexpr std::chrono::milliseconds kLookInterval{50};
  const auto tellAndCheck = [&] {
    bool anyRunning = false;
    for (auto& hub : hubs) {
      if (!hub.process->isRunning()) {
        continue;
      }
      anyRunning = true;
      if (!hub.told) {
        hub.told = HubLauncher::sendStopCommand(hub.hubNumber);
      }
    }
    return anyRunning;
  };
  for (std::chrono::milliseconds waited{0}; tellAndCheck() && waited < grace;
       waited += kLookInterval) {
    clock.sleepFor(kLookInterval);
  }
  for (const auto& hub : hubs) {
    hub.process->kill();
  }
}

}  // namespace korvane::manager
