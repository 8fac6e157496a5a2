#include "hub/HubProcess.h"

#include <array>
#include <exception>
#include <memory>
#include <string>

#include "common/HubSettings.h"
#include "common/ProgramPaths.h"
#include "hub/ControlPipe.h"
#include "hub/HubState.h"
#include "hub/ManagerWatchdog.h"
#include "platform/Priority.h"
#include "platform/ProgramDirectory.h"
#include "platform/Random.h"
#include "platform/StopSignal.h"

namespace korvane::hub {
namespace {

constexpr const char* kStars = "***********************************";
constexpr const char* kStartedBanner = "         Process started           ";
constexpr const char* kTerminatedBanner = "        Process terminated         ";
constexpr const char* kExceptionBanner = "        Catch Exception            ";

void logBanner(HubState& state, const char* title) {
  state.log(kStars);
  state.log(title);
  state.log(kStars);
}

// The hub draws its login challenges from the kernel's random source; a hub that cannot reach it
// must not start, since every challenge would be predictable.
bool randomSourceWorks() {
  std::array<std::uint8_t, 16> probe{};
  return platform::fillRandom(probe);
}

bool validHubNumber(int hubNumber) {
  return hubNumber >= kLowestHubNumber && hubNumber <= kHighestHubNumber;
}

void openLogs(HubState& state) {
  state.hubLog = std::make_unique<HubLog>(state.programDirectory + "log/", state.hubNumber,
                                          state.clock);
  state.hubLog->startUp(state.settings.garbageMonths, state.settings.garbageDays);
}

void shutDown(HubState& state) {
  logBanner(state, kTerminatedBanner);
  state.log("");
  state.hubLog->close();
}

// Start-up after the checks that end the process silently, the control pipe, and shut-down.
int serve(const std::shared_ptr<HubState>& state) {
  openLogs(*state);
  state->log("");
  logBanner(*state, kStartedBanner);

  if (state->managerProcessId != 0) {
    startManagerWatchdog(state);
  }
  ControlPipe(*state).runControlPipe();

  shutDown(*state);
  return 0;
}

int serveCatchingAll(const std::shared_ptr<HubState>& state) {
  try {
    return serve(state);
  } catch (const std::exception& e) {
    logBanner(*state, kExceptionBanner);
    state->log(e.what());
    state->log("");
  } catch (...) {
    logBanner(*state, kExceptionBanner);
    state->log("Cannot handle");
    state->log("");
  }
  return kHubExitFailure;
}

}  // namespace

int runHubProcess(const HubCommandLine& commandLine, const platform::Clock& clock) {
  if (!randomSourceWorks()) {
    return kHubExitFailure;
  }
  platform::raiseProcessPriority();
  if (!validHubNumber(commandLine.hubNumber)) {
    return kHubExitFailure;
  }
  auto state =
      std::make_shared<HubState>(commandLine.hubNumber, commandLine.managerProcessId, clock);
  state->programDirectory = platform::programDirectory();
  state->settings = common::readHubSettings(common::managerConfigPath(), state->hubNumber);
  if (state->settings.portNo == 0) {
    return kHubExitFailure;
  }

  // Ctrl-C and SIGTERM stop the hub the way the stop command does.
  platform::StopSignalWatcher stopSignals([state] {
    if (state->requestShutdown()) {
      state->log("Detect Termination Signal !");
      wakeControlPipe(state->hubNumber);
    }
  });
  return serveCatchingAll(state);
}

}  // namespace korvane::hub
