#include "panel/logic/HubCommandClient.h"

#include <optional>

#include "platform/LocalPipe.h"

namespace korvane::panel {

HubReload accountsReload(bool recheckClients) {
  return recheckClients ? HubReload::kAccountsRecheck : HubReload::kAccounts;
}

HubReload filterReload(bool recheckClients) {
  return recheckClients ? HubReload::kFilterRecheck : HubReload::kFilter;
}

HubDelivery HubCommandClient::send(int hubNumber, HubReload reload, std::string* err) const {
  std::string openError;
  std::optional<platform::PipeConnection> pipe =
      platform::openPipe(common::hubPipeName(hubNumber), &openError);
  if (!pipe) {
    return HubDelivery::kHubNotRunning;
  }
  common::ControlHeader request;
  request.command = static_cast<std::uint32_t>(reload);
  if (!pipe->writeAll(common::encodeControlHeader(request))) {
    *err = "the hub's control pipe " + common::hubPipeName(hubNumber) +
           " closed before the command was written";
    return HubDelivery::kNotConfirmed;
  }
  if (!pipe->finishAndWaitForClose(takenLimit_)) {
    *err = "the hub on pipe " + common::hubPipeName(hubNumber) +
           " did not take the command within " + std::to_string(takenLimit_.count()) + " ms";
    return HubDelivery::kNotConfirmed;
  }
  return HubDelivery::kTaken;
}

const char* describe(HubDelivery delivery) {
  switch (delivery) {
    case HubDelivery::kTaken:
      return "the hub took the command";
    case HubDelivery::kHubNotRunning:
      return "the hub does not run";
    case HubDelivery::kNotConfirmed:
      return "the hub did not confirm the command";
  }
  return "unknown";
}

}  // namespace korvane::panel
