#include "hub/PanelNotifier.h"

#include <string>

#include "common/NotifyPipe.h"
#include "platform/LocalPipe.h"

namespace korvane::hub {

// The connection is the whole message: connect and disconnect. A window comes back with its
// next connection-list request.
void PanelNotifier::notify() {
  if (shutdown_->isSet()) {
    return;
  }
  windows_.signalAll([](std::uint32_t windowId) {
    std::string err;
    auto pipe = platform::openPipe(common::notifyPipeName(windowId), &err);
    return pipe.has_value();
  });
}

}  // namespace korvane::hub
