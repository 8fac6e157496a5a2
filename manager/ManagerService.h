#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "common/RunThread.h"
#include "manager/DnsUpdateScheduler.h"
#include "manager/HubLauncher.h"
#include "manager/ManagerPipeServer.h"
#include "manager/ReloadEvent.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace korvane::manager {

/// What a thread of the manager does when an exception escapes it: says so on standard error
/// ("Tollmar: NAME ended by an exception: TEXT") and ends.
void reportThreadFailure(const common::ThreadFailure& failure);

/// Hub processes the manager runs at one time.
inline constexpr std::size_t kHubSlots = 32;

/// One hub the manager runs, and its process while one is known.
struct HubSlot {
  int hubNumber = 0;  ///< 0 marks an empty slot
  std::shared_ptr<platform::Process> process;
};

/// The hub manager: keeps one hub process running for every hub switched on in the manager
/// configuration file, restarts a hub one second after it ends, reloads the file when asked over
/// the manager pipe, and stops every hub when it stops itself. A reload that cannot read the file
/// (refused as not a regular file or too large, or unreadable) changes no hub and says why in the
/// foreground log.
class ManagerService {
 public:
  struct Options {
    std::string programDirectory;  ///< where kvhub lies, ending in '/'
    std::string configPath;        ///< the manager configuration file
    std::ostream* foregroundLog = nullptr;  ///< Tollmar.log in the foreground, else null
  };

  ManagerService(Options options, const platform::Clock& clock);
  ~ManagerService();
  ManagerService(const ManagerService&) = delete;
  ManagerService& operator=(const ManagerService&) = delete;

  /// The service main routine: starts the hubs, serves reloads, and returns once stop() has
  /// done its work.
  int run();

  /// The stop control (any thread): ends the pipe thread, tells every hub to stop, and kills
  /// the hubs still running after four seconds. Returns when that is done.
  void stop();

  /// The hub numbers of the hubs that have a process now, in table order.
  std::vector<int> runningHubs() const;

 private:
  // What the monitor threads share with the service; they hold it, so it outlives them.
  struct Shared {
    Shared(HubLauncher hubLauncher, const platform::Clock& clockSource)
        : launcher(std::move(hubLauncher)), clock(clockSource) {}
    mutable std::mutex mutex;  // guards `active`
    std::array<HubSlot, kHubSlots> active;
    std::atomic<bool> stopping{false};
    const HubLauncher launcher;
    const platform::Clock& clock;
  };

  void reload();
  static void startMonitor(std::shared_ptr<Shared> shared,
                           std::shared_ptr<platform::Process> process);
  static void monitor(const std::shared_ptr<Shared>& shared,
                      std::shared_ptr<platform::Process> process);
  void stopHubs();

  Options options_;
  std::shared_ptr<Shared> shared_;
  ReloadEvent reloadEvent_;
  ReloadEvent stoppedEvent_;
  std::once_flag stopOnce_;
  std::mutex reloadMutex_;  // a reload and the stop never overlap
  ManagerPipeServer pipe_;
  DnsUpdateScheduler dns_;
};

}  // namespace korvane::manager
