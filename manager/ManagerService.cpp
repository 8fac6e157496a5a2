#include "manager/ManagerService.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "common/InstallationGrants.h"
#include "common/ManagerHubList.h"
#include "common/RunThread.h"
#include "platform/Process.h"
#include "platform/ServiceNotify.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;

constexpr auto kLoopWait = 1000ms;
// After the stop request the main loop waits this long at most for the stop to be done.
constexpr auto kStopWait = 30000ms;
// A hub that ended is started again after this pause, without limit or growing delay.
constexpr auto kRestartDelay = 1000ms;
// Hubs that have not ended this long after the stop command are killed.
constexpr auto kHubStopGrace = 4000ms;

HubSlot* findProcess(std::array<HubSlot, kHubSlots>& table,
                     const std::shared_ptr<platform::Process>& process) {
  for (auto& slot : table) {
    if (slot.hubNumber == 0) {
      break;
    }
    if (slot.process == process) {
      return &slot;
    }
  }
  return nullptr;
}

// The slot of `hubNumber` while it has no process: a restart belongs there. None when a reload
// dropped the hub or already started it anew.
HubSlot* findWaitingSlot(std::array<HubSlot, kHubSlots>& table, int hubNumber) {
  for (auto& slot : table) {
    if (slot.hubNumber == 0) {
      break;
    }
    if (slot.hubNumber == hubNumber) {
      return slot.process ? nullptr : &slot;
    }
  }
  return nullptr;
}

// The unscrambling's lines go to standard output, which only the foreground mode shows.
DnsUpdateSettings dnsSettings(const ManagerService::Options& options) {
  DnsUpdateSettings settings;
  settings.logPath = options.programDirectory + "log/dnsupdate.log";
  settings.diagnostics = options.foregroundLog != nullptr ? &std::cout : nullptr;
  return settings;
}

}  // namespace

// The other threads go on: the service's error output is the journal, or the terminal in the
// foreground.
void reportThreadFailure(const common::ThreadFailure& failure) {
  std::cerr << "Tollmar: " << failure.thread << " ended by an exception: " << failure.what
            << std::endl;
}

ManagerService::ManagerService(Options options, const platform::Clock& clock)
    : options_(std::move(options)),
      shared_(std::make_shared<Shared>(
          HubLauncher(options_.programDirectory, platform::currentProcessId()), clock)),
      pipe_(clock),
      dns_(options_.configPath, dnsSettings(options_), clock) {}

ManagerService::~ManagerService() {
  stop();
}

int ManagerService::run() {
  common::applyInstallationGrants(options_.programDirectory, std::cout);
  platform::notifyServiceManager("READY=1");
  pipe_.start([this] { reloadEvent_.set(); }, reportThreadFailure);
  reload();
  dns_.start(reportThreadFailure);
  if (options_.foregroundLog != nullptr) {
    *options_.foregroundLog << "[ServiceMain] LOOP stat\n" << std::flush;
  }
  for (;;) {
    if (!reloadEvent_.waitFor(kLoopWait)) {
      continue;
    }
    if (shared_->stopping) {
      stoppedEvent_.waitFor(kStopWait);
      return 0;
    }
    reload();
  }
}

void ManagerService::reload() {
  std::lock_guard reloadLock(reloadMutex_);
  if (shared_->stopping) {
    return;
  }
  std::string readError;
  const std::optional<std::vector<int>> enabled =
      common::hubsToRun(options_.configPath, &readError);
  if (!enabled) {
    // A file that cannot be read says nothing about which hubs should run (it may be a FIFO or
    // a device put in its place): the hubs keep running as they are until a good file is read.
    if (options_.foregroundLog != nullptr) {
      *options_.foregroundLog << "[ServiceMain] " << readError
                              << "; the hubs are kept as they are\n"
                              << std::flush;
    }
    return;
  }
  std::array<HubSlot, kHubSlots> fresh{};
  for (std::size_t i = 0; i < enabled->size() && i < kHubSlots; ++i) {
    fresh[i].hubNumber = (*enabled)[i];
  }

  std::vector<HubToStop> toStop;
  std::vector<std::shared_ptr<platform::Process>> launched;
  {
    std::lock_guard lock(shared_->mutex);
    for (auto& old : shared_->active) {
      if (old.hubNumber == 0) {
        break;
      }
      auto kept = std::find_if(fresh.begin(), fresh.end(),
                               [&](const HubSlot& s) { return s.hubNumber == old.hubNumber; });
      if (kept != fresh.end()) {
        kept->process = std::move(old.process);
      } else if (old.process) {
        toStop.push_back({old.hubNumber, old.process});  // its monitor finds no slot and ends
      }
    }
    for (auto& slot : fresh) {
      if (slot.hubNumber == 0) {
        break;
      }
      if (!slot.process) {
        slot.process = shared_->launcher.launch(slot.hubNumber);
        if (slot.process) {
          launched.push_back(slot.process);
        }
      }
    }
    shared_->active = std::move(fresh);
  }
  if (!toStop.empty()) {
    // A hub switched off is stopped like every hub at the service's stop, also when it is still
    // starting and cannot hear the command yet; the reload does not wait for it.
    std::thread([toStop = std::move(toStop), &clock = shared_->clock]() mutable {
      common::runThread(
          "HubStopper", [&] { stopHubProcesses(std::move(toStop), kHubStopGrace, clock); },
          reportThreadFailure);
    }).detach();
  }
  for (auto& process : launched) {
    startMonitor(shared_, std::move(process));
  }
}

void ManagerService::startMonitor(std::shared_ptr<Shared> shared,
                                  std::shared_ptr<platform::Process> process) {
  std::thread([shared = std::move(shared), process = std::move(process)]() mutable {
    common::runThread(
        "HubMonitor", [&] { monitor(shared, std::move(process)); }, reportThreadFailure);
  }).detach();
}

// Waits for one hub process after the other in the same slot: each time the process ends, the
// hub is started again a second later, unless the manager stops or a reload dropped the hub (or
// already started it anew) in the meantime.
void ManagerService::monitor(const std::shared_ptr<Shared>& shared,
                             std::shared_ptr<platform::Process> process) {
  for (;;) {
    process->waitForExit();
    if (shared->stopping) {
      return;
    }
    int hubNumber = 0;
    {
      std::lock_guard lock(shared->mutex);
      HubSlot* slot = findProcess(shared->active, process);
      if (slot == nullptr) {
        return;
      }
      hubNumber = slot->hubNumber;
      slot->process.reset();
    }
    process.reset();
    shared->clock.sleepFor(kRestartDelay);

    std::lock_guard lock(shared->mutex);
    if (shared->stopping) {
      return;
    }
    HubSlot* slot = findWaitingSlot(shared->active, hubNumber);
    if (slot == nullptr) {
      return;
    }
    process = shared->launcher.launch(hubNumber);
    slot->process = process;
    if (!process) {
      return;  // the next reload tries again
    }
  }
}

void ManagerService::stop() {
  std::call_once(stopOnce_, [this] {
    platform::notifyServiceManager("STOPPING=1");
    pipe_.stop();
    dns_.stop();
    shared_->stopping = true;
    reloadEvent_.set();
    stopHubs();
    stoppedEvent_.set();
  });
}

void ManagerService::stopHubs() {
  std::lock_guard reloadLock(reloadMutex_);
  std::vector<HubToStop> hubs;
  {
    std::lock_guard lock(shared_->mutex);
    for (auto& slot : shared_->active) {
      if (slot.process) {
        hubs.push_back({slot.hubNumber, std::move(slot.process)});
      }
    }
  }
  stopHubProcesses(std::move(hubs), kHubStopGrace, shared_->clock);
}

std::vector<int> ManagerService::runningHubs() const {
  std::vector<int> hubs;
  std::lock_guard lock(shared_->mutex);
  for (const auto& slot : shared_->active) {
    if (slot.process) {
      hubs.push_back(slot.hubNumber);
    }
  }
  return hubs;
}

}  // namespace korvane::manager
