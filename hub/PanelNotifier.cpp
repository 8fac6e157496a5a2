#include "hub/PanelNotifier.h"

#include <string>

#include "common/NotifyPipe.h"
#include "hub/HubState.h"
#include "platform/LocalPipe.h"

namespace korvane::hub {

// The connection is the whole message: connect and disconnect. A window whose pipe cannot be
// opened has gone and leaves the list; it comes back with its next connection-list request.
void notifyPanels(HubState& state) {
  if (state.shuttingDown()) {
    return;
  }
  state.notifyList.signalAll([](std::uint32_t windowId) {
    std::string err;
    auto pipe = platform::openPipe(common::notifyPipeName(windowId), &err);
    return pipe.has_value();
  });
}

}  // namespace korvane::hub
