#include "panel/logic/HubMenuState.h"

namespace korvane::panel {

HubCommandStates hubCommandStates(HubSelection selection) {
  switch (selection) {
    case HubSelection::kNone:
      break;
    case HubSelection::kStopped:
      return {.start = true, .remove = true, .settings = true, .filter = true, .accounts = true};
    case HubSelection::kRunning:
      return {.stop = true, .settings = true, .accounts = true, .status = true};
  }
  return {};
}

int contextSubMenu(HubSelection selection) {
  return selection == HubSelection::kNone ? 0 : 1;
}

}  // namespace korvane::panel
