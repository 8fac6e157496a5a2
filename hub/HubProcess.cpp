#include "hub/HubProcess.h"

#include <array>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "common/HubSettings.h"
#include "common/ProgramPaths.h"
#include "common/RunThread.h"
#include "hub/AccountStore.h"
#include "hub/ConnectionContext.h"
#include "hub/ControlPipe.h"
#include "hub/DhcpDomains.h"
#include "hub/HealthThread.h"
#include "hub/HostFilter.h"
#include "hub/HubLogger.h"
#include "hub/LeaseWriter.h"
#include "hub/ListenState.h"
#include "hub/Listener.h"
#include "hub/ManagerWatchdog.h"
#include "hub/PanelNotifier.h"
#include "hub/PortManager.h"
#include "hub/SendWriter.h"
#include "hub/ShutdownFlag.h"
#include "hub/ThreadCatchAll.h"
#include "hub/UpnpMapping.h"
#include "platform/Priority.h"
#include "platform/ProgramDirectory.h"
#include "platform/Random.h"
#include "platform/StopSignal.h"

namespace korvane::hub {
namespace {

// After every connection was cut, shut-down waits this long for the port threads to finish
// their clean-up. The longest any of them takes is a refused login's 5.5 seconds of delays.
constexpr std::chrono::milliseconds kConnectionEndWait{10000};

/// What one hub process is made of. Only start-up and shut-down see it whole; every class gets
/// the parts it uses. Threads that may outlive start-up's scope hold their parts shared.
struct HubParts {
  HubParts(int number, const platform::Clock& clockSource)
      : hubNumber(number), clock(clockSource) {}

  const int hubNumber;
  const platform::Clock& clock;
  std::string programDirectory;
  common::HubSettings settings;

  std::shared_ptr<HubLogger> log = std::make_shared<HubLogger>(clock);
  std::shared_ptr<ShutdownFlag> shutdown = std::make_shared<ShutdownFlag>();
  std::shared_ptr<PanelNotifier> panels = std::make_shared<PanelNotifier>(shutdown);
  std::atomic<ListenState> listenState{ListenState::kUndecided};

  std::shared_ptr<AccountStore> accounts;
  std::shared_ptr<HostFilter> hostFilter;
  std::shared_ptr<PortManager> portManager;
  /// Writes what the clients' streams did not take at once; started before the listener,
  /// stopped after the connections ended, since a port waiting for its answer waits for it.
  std::shared_ptr<SendWriter> sendWriter;
  /// Writes the DHCP lease files behind the connection threads; made and started before the
  /// DHCP services, stopped after the connections ended.
  std::shared_ptr<LeaseWriter> leaseWriter;
  std::shared_ptr<DhcpDomains> dhcp;

  std::string iniDirectory() const { return programDirectory + "ini/"; }
};

// The hub draws its login challenges from the kernel's random source; a hub that cannot reach it
// must not start, since every challenge would be predictable.
bool randomSourceWorks() {
  std::array<std::uint8_t, 16> probe{};
  return platform::fillRandom(probe);
}

bool validHubNumber(int hubNumber) {
  return hubNumber >= kLowestHubNumber && hubNumber <= kHighestHubNumber;
}

void openLogs(HubParts& hub) {
  hub.log->open(std::make_unique<HubLog>(hub.programDirectory + "log/", hub.hubNumber, hub.clock));
  hub.log->logs()->startUp(hub.settings.garbageMonths, hub.settings.garbageDays);
}

void createAccountsAndFilter(HubParts& hub) {
  hub.accounts =
      std::make_shared<AccountStore>(hub.iniDirectory(), hub.hubNumber, hub.settings.splitter);
  hub.hostFilter = std::make_shared<HostFilter>(hub.iniDirectory(), hub.hubNumber);
}

// One DHCP service per domain index, with its settings and leases, and the BlockDHCP flags.
// Their lease files are written by the lease writer, which starts first.
void createDhcpServices(HubParts& hub) {
  hub.leaseWriter =
      std::make_shared<LeaseWriter>([log = hub.log](std::string_view line) { log->log(line); },
                                    hub.clock, endHubOnThreadFailure(hub.log));
  hub.leaseWriter->start();
  hub.dhcp =
      std::make_shared<DhcpDomains>(hub.iniDirectory(), hub.hubNumber, hub.clock, hub.leaseWriter);
  hub.dhcp->load(*hub.accounts);
}

ConnectionContext connectionContext(const HubParts& hub) {
  return {.clock = &hub.clock,
          .authFlag = hub.settings.authFlag,
          .log = hub.log,
          .shutdown = hub.shutdown,
          .panels = hub.panels,
          .portManager = hub.portManager,
          .sendWriter = hub.sendWriter,
          .accounts = hub.accounts,
          .filter = hub.hostFilter,
          .dhcp = hub.dhcp};
}

ControlledHub controlledHub(HubParts& hub) {
  return {.hubNumber = hub.hubNumber,
          .clock = hub.clock,
          .log = hub.log,
          .shutdown = *hub.shutdown,
          .panels = *hub.panels,
          .listenState = hub.listenState,
          .accounts = hub.accounts,
          .filter = hub.hostFilter,
          .portManager = hub.portManager,
          .dhcp = hub.dhcp};
}

// The manager's end stops the hub as the stop command does.
void watchManager(int managerProcessId, const HubParts& hub) {
  startManagerWatchdog(
      managerProcessId,
      [hubNumber = hub.hubNumber, shutdown = hub.shutdown, log = hub.log] {
        if (!shutdown->request()) {
          return;
        }
        wakeControlPipe(hubNumber);
        log->log("Detect Tollmar Terminated !");
      },
      endHubOnThreadFailure(hub.log));
}

// The connections are cut and their threads given time to clean up before the objects they
// use are let go; a thread still running after that keeps its own references to them.
void endConnections(HubParts& hub, Listener& listener) {
  hub.portManager->closeAll();
  listener.waitForConnectionThreads(kConnectionEndWait);
  hub.sendWriter->stop();
  hub.dhcp->clear();
  // No service is reachable any more, so the lease files get their last content now.
  if (hub.leaseWriter) {
    hub.leaseWriter->stop();
  }
  hub.hostFilter.reset();
  hub.portManager.reset();
  hub.accounts.reset();
}

void shutDown(HubParts& hub) {
  logBanner(*hub.log, kTerminatedBanner);
  hub.log->log("");
  hub.log->logs()->close();
}

// Start-up after the checks that end the process silently, the control pipe, and shut-down.
int serve(HubParts& hub, int managerProcessId) {
  createAccountsAndFilter(hub);
  hub.log->log("");
  logBanner(*hub.log, kStartedBanner);
  if (const std::string filterError = hub.hostFilter->startError(); !filterError.empty()) {
    hub.log->log(filterError + "; every client is refused until the filter is reloaded");
  }
  hub.portManager = std::make_shared<PortManager>(hub.log, hub.clock, hub.settings.maxCon);
  createDhcpServices(hub);
  hub.sendWriter = std::make_shared<SendWriter>(endHubOnThreadFailure(hub.log));
  std::string writerError;
  if (!hub.sendWriter->start(&writerError)) {
    hub.log->log(writerError);
    shutDown(hub);
    return kHubExitFailure;
  }

  if (managerProcessId != 0) {
    watchManager(managerProcessId, hub);
  }
  HealthThread health(hub.clock, hub.portManager, endHubOnThreadFailure(hub.log));
  health.start();
  Listener listener(hub.settings.portNo, hub.listenState, connectionContext(hub));
  listener.start();
  UpnpMapping upnp([log = hub.log](std::string_view line) { log->log(line); }, hub.clock,
                   hub.settings.snatPort, hub.settings.portNo);
  upnp.start(endHubOnThreadFailure(hub.log));
  ControlPipe(controlledHub(hub)).runControlPipe();

  upnp.stop();
  health.stop();
  listener.stop();
  endConnections(hub, listener);
  shutDown(hub);
  return 0;
}

// The main thread's catch-all logs the exception's text after the banner and lets the process
// end with kHubExitFailure.
int serveCatchingAll(HubParts& hub, int managerProcessId) {
  int result = kHubExitFailure;
  common::runThread(
      "main", [&] { result = serve(hub, managerProcessId); },
      [&hub](const common::ThreadFailure& failure) {
        logBanner(*hub.log, kExceptionBanner);
        hub.log->log(failure.what);
        hub.log->log("");
      });
  return result;
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
  HubParts hub(commandLine.hubNumber, clock);
  hub.programDirectory = platform::programDirectory();
  std::string settingsError;
  const std::optional<common::HubSettings> settings =
      common::readHubSettings(common::managerConfigPath(), hub.hubNumber, &settingsError);
  if (!settings) {
    // No log is open yet: the refusal goes where the manager's own output goes.
    std::cerr << "kvhub: " << settingsError << '\n';
    return kHubExitFailure;
  }
  hub.settings = *settings;
  if (hub.settings.portNo == 0) {
    return kHubExitFailure;
  }

  // The logs exist before any other thread does, so every thread sees them made.
  openLogs(hub);
  // Ctrl-C and SIGTERM stop the hub the way the stop command does.
  platform::StopSignalWatcher stopSignals(
      [hubNumber = hub.hubNumber, shutdown = hub.shutdown, log = hub.log] {
        common::runThread(
            "StopSignalWatcher",
            [&] {
              if (shutdown->request()) {
                log->log("Detect Termination Signal !");
                wakeControlPipe(hubNumber);
              }
            },
            endHubOnThreadFailure(log));
      });
  return serveCatchingAll(hub, commandLine.managerProcessId);
}

}  // namespace korvane::hub
