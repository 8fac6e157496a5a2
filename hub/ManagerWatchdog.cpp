#include "hub/ManagerWatchdog.h"

#include <thread>

#include "hub/ControlPipe.h"
#include "platform/ProcessWatch.h"

namespace korvane::hub {
namespace {

void watchManager(const std::shared_ptr<HubState>& state) {
  if (!platform::waitForProcessEnd(state->managerProcessId)) {
    return;
  }
  if (!state->requestShutdown()) {
    return;
  }
  wakeControlPipe(state->hubNumber);
  state->log("Detect Tollmar Terminated !");
}

}  // namespace

void startManagerWatchdog(std::shared_ptr<HubState> state) {
  // The thread holds the state, so the state outlives it even when the hub ends first.
  std::thread(watchManager, std::move(state)).detach();
}

}  // namespace korvane::hub
