#include "hub/HubProcess.h"

#include <array>
#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/HubSettings.h"
#include "common/ProgramPaths.h"
#include "hub/AccountStore.h"
#include "hub/ControlPipe.h"
#include "hub/DhcpDomains.h"
#include "hub/HealthThread.h"
#include "hub/HostFilter.h"
#include "hub/HubState.h"
#include "hub/LeaseWriter.h"
#include "hub/Listener.h"
#include "hub/ManagerWatchdog.h"
#include "hub/PortManager.h"
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

// After every connection was cut, shut-down waits this long for the port threads to finish
// their clean-up. The longest any of them takes is a refused login's 5.5 seconds of delays.
constexpr std::chrono::milliseconds kConnectionEndWait{10000};

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

void createAccountsAndFilter(HubState& state) {
  const std::string iniDirectory = state.programDirectory + "ini/";
  state.accounts =
      std::make_shared<AccountStore>(iniDirectory, state.hubNumber, state.settings.splitter);
  state.hostFilter = std::make_shared<HostFilter>(iniDirectory, state.hubNumber);
}

// One DHCP service per domain index, with its settings and leases, and the BlockDHCP flags.
// Their lease files are written by the lease writer, which starts first.
void createDhcpServices(HubState& state) {
  state.leaseWriter = std::make_shared<LeaseWriter>(
      [&state](std::string_view line) { state.log(line); }, state.clock);
  state.leaseWriter->start();
  state.dhcp = std::make_shared<DhcpDomains>(state.programDirectory + "ini/", state.hubNumber,
                                             state.clock, state.leaseWriter);
  state.dhcp->load(*state.accounts);
}

// The connections are cut and their threads given time to clean up before the objects they
// use are let go; a thread still running after that keeps its own references to them.
void endConnections(HubState& state, Listener& listener) {
  state.portManager->closeAll();
  listener.waitForConnectionThreads(kConnectionEndWait);
  state.dhcp->clear();
  // No service is reachable any more, so the lease files get their last content now.
  if (state.leaseWriter) {
    state.leaseWriter->stop();
  }
  state.hostFilter.reset();
  state.portManager.reset();
  state.accounts.reset();
}

void shutDown(HubState& state) {
  logBanner(state, kTerminatedBanner);
  state.log("");
  state.hubLog->close();
}

// Start-up after the checks that end the process silently, the control pipe, and shut-down.
int serve(const std::shared_ptr<HubState>& state) {
  createAccountsAndFilter(*state);
  state->log("");
  logBanner(*state, kStartedBanner);
  state->portManager = std::make_shared<PortManager>(*state, state->settings.maxCon);
  createDhcpServices(*state);

  if (state->managerProcessId != 0) {
    startManagerWatchdog(state);
  }
  HealthThread health(*state, state->portManager);
  health.start();
  Listener listener(state);
  listener.start();
  ControlPipe(*state).runControlPipe();

  health.stop();
  listener.stop();
  endConnections(*state, listener);
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
  std::string settingsError;
  const std::optional<common::HubSettings> settings =
      common::readHubSettings(common::managerConfigPath(), state->hubNumber, &settingsError);
  if (!settings) {
    // No log is open yet: the refusal goes where the manager's own output goes.
    std::cerr << "kvhub: " << settingsError << '\n';
    return kHubExitFailure;
  }
  state->settings = *settings;
  if (state->settings.portNo == 0) {
    return kHubExitFailure;
  }

  // The logs exist before any other thread does, so every thread sees them made.
  openLogs(*state);
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
