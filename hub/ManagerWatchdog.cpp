#include "hub/ManagerWatchdog.h"

#include <thread>

#include "platform/ProcessWatch.h"

namespace korvane::hub {

void startManagerWatchdog(int managerProcessId, std::function<void()> whenEnded,
                          common::ThreadFailureHandler onFailure) {
  std::thread([managerProcessId, whenEnded = std::move(whenEnded),
               onFailure = std::move(onFailure)] {
    common::runThread(
        "ManagerWatchdog",
        [&] {
          if (platform::waitForProcessEnd(managerProcessId)) {
            whenEnded();
          }
        },
        onFailure);
  }).detach();
}

}  // namespace korvane::hub
