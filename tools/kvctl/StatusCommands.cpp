// kvctl status, connections, watch: what the running hubs do.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "panel/logic/ConnectionRows.h"
#include "panel/logic/HubQueryClient.h"
#include "panel/logic/NotificationServer.h"
#include "platform/Process.h"
#include "platform/StopSignal.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

using namespace std::chrono_literals;

// A burst of changes is shown once: the list is fetched this long after the first signal.
constexpr auto kRefreshDelay = 500ms;

std::string listenText(std::int32_t state) {
  switch (state) {
    case 1:
      return "listening";
    case -1:
      return "port-in-use";
    default:
      return "not-answering";
  }
}

int showStatus(Context& context, const Arguments&) {
  const panel::HubQueryClient client(context.clock);
  std::string err;
  const auto config = context.config.snapshot(&err);
  if (!config) {
    return context.refuse(err);
  }
  const auto hubs = config->listHubs();
  if (context.json) {
    context.out << "[\n";
  } else {
    context.out << "HUB   SWITCH   PORT   STATE          NAME\n";
  }
  for (std::size_t i = 0; i < hubs.size(); ++i) {
    const int hub = hubs[i];
    const auto status = config->readStatus(hub);
    const bool on = status.value_or(false);
    // A hub switched off runs no process: asking it would only cost the retries.
    const std::string state = on ? listenText(client.queryState(hub)) : "stopped";
    const std::string switchText = status ? (on ? "on" : "off") : "invalid";
    if (context.json) {
      context.out << "  {\"number\": " << hub << ", \"name\": " << jsonString(config->readName(hub))
                  << ", \"switch\": \"" << switchText << "\", \"port\": " << config->readPort(hub)
                  << ", \"state\": \"" << state << "\"}" << (i + 1 == hubs.size() ? "\n" : ",\n");
      continue;
    }
    char line[96];
    std::snprintf(line, sizeof line, "%04d  %-8s %-6d %-14s ", hub, switchText.c_str(),
                  config->readPort(hub), state.c_str());
    context.out << line << config->readName(hub) << '\n';
  }
  if (context.json) {
    context.out << "]\n";
  }
  return kExitOk;
}

void printConnections(Context& context, const std::vector<common::PortListEntry>& entries) {
  const char splitter = context.config.readDomainSplitter();
  if (context.json) {
    context.out << "[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& entry = entries[i];
      context.out << "  {\"name\": " << jsonString(entry.logName)
                  << ", \"account\": " << jsonString(entry.account)
                  << ", \"domain\": " << jsonString(panel::domainText(entry.account, splitter))
                  << ", \"state\": " << entry.state << ", \"guest\": "
                  << (entry.guest == 1 ? "true" : "false")
                  << ", \"kilobytesReceived\": " << entry.kilobytesReceived
                  << ", \"kilobytesSent\": " << entry.kilobytesSent
                  << ", \"address\": " << (entry.address.empty() ? "null" : jsonString(entry.address))
                  << "}" << (i + 1 == entries.size() ? "\n" : ",\n");
    }
    context.out << "]\n" << std::flush;
    return;
  }
  context.out << "NAME | ACCOUNT | DOMAIN | KB RECEIVED | KB SENT | ADDRESS\n";
  for (const auto& entry : entries) {
    context.out << entry.logName << " | " << entry.account << " | "
                << panel::domainText(entry.account, splitter) << " | " << entry.kilobytesReceived
                << " | " << entry.kilobytesSent << " | "
                << panel::addressText(entry.address) << '\n';
  }
  context.out << std::flush;
}

// The id under which this process asks for the list; the hub signals changes to the pipe of
// that id. The process id is unique on the machine while we run.
std::uint32_t ourWindowId() {
  return static_cast<std::uint32_t>(platform::currentProcessId());
}

int showConnections(Context& context, const Arguments& arguments) {
  std::string err;
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], &err);
  if (!hub) {
    return context.refuse(err);
  }
  const auto entries = panel::HubQueryClient(context.clock).queryConnections(*hub, ourWindowId());
  if (!entries) {
    return context.refuse("hub " + std::to_string(*hub) + " does not answer (is it running?)");
  }
  printConnections(context, *entries);
  return kExitOk;
}

// Signals from the hub and the stop request, handed to the printing loop.
class WatchState {
 public:
  void signal() {
    {
      std::lock_guard lock(mutex_);
      pending_ = true;
    }
    changed_.notify_all();
  }
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
  }
  /// Waits for the next burst of signals; false once stopping.
  bool waitForChange() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_ || stopping_; });
    if (stopping_) {
      return false;
    }
    changed_.wait_for(lock, kRefreshDelay, [&] { return stopping_; });
    pending_ = false;
    return !stopping_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  bool stopping_ = false;
};

int watchConnections(Context& context, const Arguments& arguments) {
  std::string err;
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], &err);
  if (!hub) {
    return context.refuse(err);
  }
  WatchState state;
  platform::StopSignalWatcher stopSignals([&state] { state.stop(); });
  panel::NotificationServer notifications(ourWindowId(), [&state] { state.signal(); },
                                          context.clock);
  notifications.start();
  const panel::HubQueryClient client(context.clock);
  // The first list also registers our pipe with the hub; later ones follow its signals.
  do {
    const auto entries = client.queryConnections(*hub, ourWindowId());
    if (!entries) {
      context.err << "kvctl: hub " << *hub << " does not answer\n";
      continue;
    }
    printConnections(context, *entries);
  } while (state.waitForChange());
  return kExitOk;
}

}  // namespace

std::vector<Command> statusCommands() {
  return {
      {"status", "", "", "shows every hub with its switch, port and listening state", {}, {}, 0,
       0, showStatus},
      {"connections", "", "HUB", "lists a running hub's connections", {}, {}, 1, 1,
       showConnections},
      {"watch", "", "HUB", "lists a running hub's connections again whenever they change", {},
       {}, 1, 1, watchConnections},
  };
}

}  // namespace korvane::tools
