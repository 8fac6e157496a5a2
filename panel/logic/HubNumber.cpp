#include "panel/logic/HubNumber.h"

#include "common/ManagerConfigFormat.h"

namespace korvane::panel {

bool isHubNumber(int hubNumber, std::string* err) {
  if (hubNumber >= common::kMinHubNumber && hubNumber <= common::kMaxHubNumber) {
    return true;
  }
  *err = "hub number " + std::to_string(hubNumber) + " is not between " +
         std::to_string(common::kMinHubNumber) + " and " + std::to_string(common::kMaxHubNumber);
  return false;
}

}  // namespace korvane::panel
