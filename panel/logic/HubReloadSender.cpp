#include "panel/logic/HubReloadSender.h"

namespace korvane::panel {

HubReloadSender pipeReloadSender(int hubNumber, HubCommandClient client) {
  return [hubNumber, client](HubReload reload, std::string* err) {
    return client.send(hubNumber, reload, err);
  };
}

}  // namespace korvane::panel
