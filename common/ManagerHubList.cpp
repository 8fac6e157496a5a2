#include "common/ManagerHubList.h"

#include "common/HubSettings.h"
#include "common/ManagerConfigSnapshot.h"

namespace korvane::common {

std::optional<std::vector<HubSwitch>> readHubSwitches(const std::string& path, std::string* err) {
  const std::optional<ManagerConfigSnapshot> file = ManagerConfigSnapshot::read(path, err);
  if (!file) {
    return std::nullopt;
  }
  std::vector<HubSwitch> hubs;
  for (const int number : file->listHubs()) {
    const std::string status = file->sections().readString(hubSectionName(number), kStatusKey,
                                                           kStatusOff, kHubValueBufferSize);
    hubs.push_back(HubSwitch{number, status == kStatusOn});
  }
  return hubs;
}

std::optional<std::vector<int>> hubsToRun(const std::string& path, std::string* err) {
  const std::optional<std::vector<HubSwitch>> hubs = readHubSwitches(path, err);
  if (!hubs) {
    return std::nullopt;
  }
  std::vector<int> running;
  for (const HubSwitch& hub : *hubs) {
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
