#include "common/ManagerHubList.h"

#include "common/HubSettings.h"
#include "common/ManagerConfigFormat.h"
#include "platform/ProfileFile.h"

namespace korvane::common {

std::vector<HubSwitch> readHubSwitches(const std::string& path) {
  std::vector<HubSwitch> hubs;
  for (const int number : listHubNumbers(path, kHubListCapacity)) {
    const std::string status = platform::profile::readString(
        path, hubSectionName(number), kStatusKey, kStatusOff, kHubValueBufferSize);
    hubs.push_back(HubSwitch{number, status == kStatusOn});
  }
  return hubs;
}

std::vector<int> hubsToRun(const std::string& path) {
  std::vector<int> running;
  for (const HubSwitch& hub : readHubSwitches(path)) {
    if (running.size() == kMaxRunningHubs) {
      break;
    }
    if (hub.on) {
      running.push_back(hub.number);
    }
  }
  return running;
}

}  // namespace korvane::common
