// kvtap: joins a TAP device of this machine to a virtual hub, so that a Linux host takes part in
// the hub's virtual LAN: frames the host sends on the TAP device go to the hub, frames the hub
// switches to this client come out of the TAP device.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/StopSignal.h"
#include "platform/TapDevice.h"
#include "tools/kvtap/EventLog.h"
#include "tools/kvtap/KvtapOptions.h"
#include "tools/kvtap/TapRelay.h"

namespace {

using namespace korvane;

constexpr int kExitBadOptions = 2;
constexpr int kExitFailure = 1;
// A stop request ends the relay within moments, except while a TCP connect is under way, which
// only the kernel's own time-out (minutes, towards an address that never answers) ends. After
// this long the process leaves without waiting for it.
constexpr std::chrono::seconds kStopGrace{5};

/// Lets the thread that handles a stop request leave the process when run() does not return in
/// time, and lets main() tell it that run() did.
class StopGrace {
 public:
  void runEnded() {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    endedChanged_.notify_all();
  }

  void awaitRunOrLeave(tools::EventLog& log) {
    std::unique_lock lock(mutex_);
    if (endedChanged_.wait_for(lock, kStopGrace, [this] { return ended_; })) {
      return;
    }
    log.line("stopped while connecting");
    std::_Exit(0);
  }

 private:
  std::mutex mutex_;
  std::condition_variable endedChanged_;
  bool ended_ = false;
};

int relay(const tools::KvtapOptions& options) {
  tools::EventLog log(platform::systemClock(), stderr);
  std::string err;
  auto tap = platform::TapDevice::open(options.tapName, &err,
                                       platform::TapOptions{.offloads = options.offloads});
  if (!tap) {
    log.line("cannot open TAP device " + options.tapName + ": " + err);
    return kExitFailure;
  }
  tools::RelaySettings settings;
  settings.hubHost = options.hubHost;
  settings.hubPort = options.hubPort;
  settings.hubDisplay = options.hubDisplay;
  settings.credentials = options.credentials;
  settings.networkKey = options.networkKey;
  settings.keepAlive = options.keepAlive;
  tools::TapRelay relay(settings, *tap, log);
  StopGrace grace;
  const platform::StopSignalWatcher watcher([&] {
    log.line("stop requested");
    relay.stop();
    grace.awaitRunOrLeave(log);
  });
  log.line("relaying TAP device " + tap->name() + " to " + options.hubDisplay +
           (options.networkKey ? " with encryption" : ""));
  const int status = relay.run();
  grace.runEnded();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  tools::KvtapEnvironment environment;
  if (const char* password = std::getenv(tools::kPasswordVariable)) {
    environment.password = password;
  }
  tools::KvtapOptions options;
  std::string err;
  if (!tools::parseKvtapOptions(args, environment, &options, &err)) {
    std::fprintf(stderr, "kvtap: %s\n", err.c_str());
    return kExitBadOptions;
  }
  if (options.help) {
    std::fputs(tools::kvtapUsage().c_str(), stdout);
    return 0;
  }
  return relay(options);
}
