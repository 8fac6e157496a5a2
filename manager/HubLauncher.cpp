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

void HubLauncher::sendStopCommand(int hubNumber) {
  std::string err;
  auto pipe = platform::openPipe(common::hubPipeName(hubNumber), &err);
  if (!pipe) {
    return;
  }
  common::ControlHeader request;
  request.command = static_cast<std::uint32_t>(common::HubCommand::kStop);
  (void)pipe->writeAll(common::encodeControlHeader(request));
  pipe->close();
}

}  // namespace korvane::manager
