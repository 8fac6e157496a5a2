// kvctl hub ...: the hubs of the manager configuration file.

#include <cstdio>
#include <string>

#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

std::string statusText(const std::optional<bool>& status) {
  if (!status) {
    return "invalid";
  }
  return *status ? "on" : "off";
}

std::string fourDigits(int hub) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", hub);
  return text;
}

void printHubJson(Context& context, const common::ManagerConfigSnapshot& config, int hub,
                  bool last) {
  const auto retention = config.readLogRetention(hub);
  context.out << "  {\"number\": " << hub << ", \"name\": " << jsonString(config.readName(hub))
              << ", \"status\": \"" << statusText(config.readStatus(hub))
              << "\", \"port\": " << config.readPort(hub)
              << ", \"auth\": " << (config.readAuthFlag(hub) == 1 ? "true" : "false")
              << ", \"maxConnections\": " << config.readMaxConnections(hub)
              << ", \"snatPort\": " << config.readSnatPort(hub)
              << ", \"logMonths\": " << retention.months << ", \"logDays\": " << retention.days
              << "}" << (last ? "\n" : ",\n");
}

int listHubs(Context& context, const Arguments&) {
  // One reading of the file: a hub's values never mix two versions of it.
  std::string err;
  const auto config = context.config.snapshot(&err);
  if (!config) {
    return context.refuse(err);
  }
  const auto hubs = config->listHubs();
  if (context.json) {
    context.out << "[\n";
    for (std::size_t i = 0; i < hubs.size(); ++i) {
      printHubJson(context, *config, hubs[i], i + 1 == hubs.size());
    }
    context.out << "]\n";
    return kExitOk;
  }
  context.out << "HUB   STATUS   PORT   AUTH  MAXCON  NAME\n";
  for (int hub : hubs) {
    char line[96];
    std::snprintf(line, sizeof line, "%-5s %-8s %-6d %-5s %-7d ", fourDigits(hub).c_str(),
                  statusText(config->readStatus(hub)).c_str(), config->readPort(hub),
                  config->readAuthFlag(hub) == 1 ? "on" : "off", config->readMaxConnections(hub));
    context.out << line << config->readName(hub) << '\n';
  }
  return kExitOk;
}

int createHub(Context& context, const Arguments& arguments) {
  const std::string& name = arguments.positional()[0];
  if (name.empty()) {
    return context.refuse("a hub needs a name");
  }
  if (!context.config.nameIsFree(0, name)) {
    return context.refuse("hub name '" + name + "' is taken");
  }
  std::string err;
  const int hub = context.config.createHub(name, &err);
  if (hub == 0) {
    return context.refuse(err.empty() ? "cannot create the hub" : err);
  }
  if (context.json) {
    context.out << "{\"number\": " << hub << "}\n";
  } else {
    context.out << "created hub " << fourDigits(hub) << '\n';
  }
  return kExitOk;
}

int deleteHub(Context& context, const Arguments& arguments) {
  std::string err;
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], &err);
  if (!hub || !context.config.deleteHub(*hub, &err)) {
    return context.refuse(err);
  }
  return kExitOk;
}

int switchHub(Context& context, const Arguments& arguments, bool on) {
  std::string err;
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], &err);
  if (!hub) {
    return context.refuse(err);
  }
  const bool done = on ? context.config.startHub(*hub, &err) : context.config.stopHub(*hub, &err);
  if (!done) {
    return context.refuse(err.empty() ? "the hub's Status cannot be read or written" : err);
  }
  return kExitOk;
}

// The settings that `hub set` changes, read and checked in full before anything is written.
struct HubChanges {
  std::optional<std::string> name;
  std::optional<int> port;
  std::optional<bool> auth;
  std::optional<int> maxConnections;
  std::optional<int> snatPort;
  std::optional<int> logMonths;
  std::optional<int> logDays;
};

std::optional<HubChanges> readChanges(const Context& context, int hub,
                                      const Arguments& arguments, std::string* err) {
  HubChanges changes;
  if (auto name = arguments.value("name")) {
    if (name->empty()) {
      *err = "a hub needs a name";
      return std::nullopt;
    }
    if (!context.config.nameIsFree(hub, *name)) {
      *err = "hub name '" + *name + "' is taken";
      return std::nullopt;
    }
    changes.name = *name;
  }
  const auto number = [&](const char* option, int low, int high, const char* what,
                          std::optional<int>* target) {
    if (auto text = arguments.value(option)) {
      *target = parseNumber(*text, low, high, what, err);
      return target->has_value();
    }
    return true;
  };
  if (!number("port", 1, 65535, "port", &changes.port) ||
      !number("max-connections", 1, 512, "connection limit", &changes.maxConnections) ||
      !number("snat-port", 0, 65535, "SNAT port", &changes.snatPort) ||
      !number("log-months", 0, 120, "log months", &changes.logMonths) ||
      !number("log-days", 0, 9999, "log days", &changes.logDays)) {
    return std::nullopt;
  }
  if (changes.port && !context.config.portIsFree(hub, *changes.port)) {
    *err = "port " + std::to_string(*changes.port) + " is used by another hub";
    return std::nullopt;
  }
  if (auto auth = arguments.value("auth")) {
    changes.auth = parseSwitch(*auth, "authentication", err);
    if (!changes.auth) {
      return std::nullopt;
    }
  }
  return changes;
}

// All changes of one call are one replacement of the file.
bool writeChanges(Context& context, int hub, const HubChanges& changes, std::string* err) {
  common::HubSettingsChange change;
  change.name = changes.name;
  change.port = changes.port;
  if (changes.auth) {
    change.authFlag = *changes.auth ? 1 : 0;
  }
  change.maxConnections = changes.maxConnections;
  change.snatPort = changes.snatPort;
  if (changes.logMonths || changes.logDays) {
    // The retention is one setting of two keys, written together as the panel writes it.
    const common::LogRetention retention = context.config.readLogRetention(hub);
    change.garbageMonths = changes.logMonths.value_or(retention.months);
    change.garbageDays = changes.logDays.value_or(retention.days);
  }
  return context.config.writeHubSettings(hub, change, err);
}

int setHub(Context& context, const Arguments& arguments) {
  std::string err;
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], &err);
  if (!hub) {
    return context.refuse(err);
  }
  const auto changes = readChanges(context, *hub, arguments, &err);
  if (!changes) {
    return context.refuse(err);
  }
  if (!writeChanges(context, *hub, *changes, &err)) {
    return context.refuse(err);
  }
  return kExitOk;
}

}  // namespace

std::vector<Command> hubCommands() {
  return {
      {"hub", "list", "", "lists the hubs with their settings", {}, {}, 0, 0, listHubs},
      {"hub", "create", "NAME", "creates a hub (stopped, without a port)", {}, {}, 1, 1, createHub},
      {"hub",
       "delete",
       "HUB",
       "deletes a stopped hub with its accounts, filter, DHCP settings and leases",
       {},
       {},
       1,
       1,
       deleteHub},
      {"hub",
       "start",
       "HUB",
       "switches a hub on; the manager starts it",
       {},
       {},
       1,
       1,
       [](Context& c, const Arguments& a) { return switchHub(c, a, true); }},
      {"hub",
       "stop",
       "HUB",
       "switches a hub off; the manager stops it",
       {},
       {},
       1,
       1,
       [](Context& c, const Arguments& a) { return switchHub(c, a, false); }},
      {"hub",
       "set",
       "HUB [--name NAME] [--port 1-65535] [--auth on|off] [--max-connections 1-512] "
       "[--snat-port 0-65535] [--log-months 0-120] [--log-days 0-9999]",
       "changes a hub's settings (a running hub takes them when next started)",
       {},
       {"name", "port", "auth", "max-connections", "snat-port", "log-months", "log-days"},
       1,
       1,
       setHub},
  };
}

}  // namespace korvane::tools
