// kvctl upnp ...: the router's external address and its port mappings for this computer, through
// the same UPnP client as the hub.

#include <functional>
#include <string>
#include <string_view>

#include "common/UpnpClient.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

std::optional<int> portArgument(Context& context, const Arguments& arguments, int* status) {
  std::string err;
  const auto port = parseNumber(arguments.positional()[0], 1, 65535, "port", &err);
  if (!port) {
    context.err << "kvctl: " << err << '\n';
    *status = kExitUsage;
  }
  return port;
}

int showExternalAddress(Context& context, const Arguments&) {
  common::UpnpClient client;
  std::string err;
  const auto address = client.externalAddress(&err);
  if (!address) {
    return context.refuse("upnp: " + err);
  }
  if (context.json) {
    context.out << "{\"externalAddress\": " << jsonString(*address) << "}\n";
  } else {
    context.out << *address << '\n';
  }
  return kExitOk;
}

int checkMapping(Context& context, const Arguments& arguments) {
  int status = kExitOk;
  const auto port = portArgument(context, arguments, &status);
  if (!port) {
    return status;
  }
  common::UpnpClient client;
  std::string err;
  const common::UpnpCheck check = client.checkMapping(*port, *port, &err);
  if (check == common::UpnpCheck::kFailed) {
    return context.refuse("upnp: " + err);
  }
  const bool mapped = check == common::UpnpCheck::kMapped;
  if (context.json) {
    context.out << "{\"port\": " << *port << ", \"mapped\": " << (mapped ? "true" : "false")
                << ", \"detail\": " << jsonString(mapped ? "" : err) << "}\n";
  } else {
    context.out << "port " << *port << (mapped ? " is mapped to this computer" : " is not mapped")
                << (mapped ? "" : " (" + err + ")") << '\n';
  }
  return mapped ? kExitOk : kExitRefused;
}

// Adding and deleting differ only in the router call and the word the JSON answer reports.
int changeMapping(Context& context, const Arguments& arguments, std::string_view reported,
                  const std::function<bool(common::UpnpClient&, int, std::string*)>& change) {
  int status = kExitOk;
  const auto port = portArgument(context, arguments, &status);
  if (!port) {
    return status;
  }
  common::UpnpClient client;
  std::string err;
  if (!change(client, *port, &err)) {
    return context.refuse("upnp: " + err);
  }
  if (context.json) {
    context.out << "{\"port\": " << *port << ", \"" << reported << "\": true}\n";
  }
  return kExitOk;
}

int addMapping(Context& context, const Arguments& arguments) {
  return changeMapping(context, arguments, "mapped",
                       [](common::UpnpClient& client, int port, std::string* err) {
                         return client.addMapping(port, port, err);
                       });
}

int deleteMapping(Context& context, const Arguments& arguments) {
  return changeMapping(context, arguments, "deleted",
                       [](common::UpnpClient& client, int port, std::string* err) {
                         return client.deleteMapping(port, err);
                       });
}

}  // namespace

std::vector<Command> upnpCommands() {
  return {
      {"upnp", "external-address", "", "prints the home router's external address (UPnP)", {}, {},
       0, 0, showExternalAddress},
      {"upnp", "check", "PORT",
       "tells whether the router maps TCP PORT to this computer (exit 1 when not)", {}, {}, 1, 1,
       checkMapping},
      {"upnp", "add", "PORT", "asks the router to forward TCP PORT to this computer", {}, {}, 1, 1,
       addMapping},
      {"upnp", "delete", "PORT", "removes the router's mapping of TCP PORT", {}, {}, 1, 1,
       deleteMapping},
  };
}

}  // namespace korvane::tools
