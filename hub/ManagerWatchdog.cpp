#include "hub/ManagerWatchdog.h"

#include <thread>

#include "platform/ProcessWatch.h"

namespace korvane::hub {

void startManagerWatchdog(int managerProcessId, std::function<void()> whenEnded) {
  std::thread([managerProcessId, whenEnded = std::move(whenEnded)] {
    if (platform::waitForProcessEnd(managerProcessId)) {
      whenEnded();
    }
  }).detach();
}

}  // namespace korvane::hub
