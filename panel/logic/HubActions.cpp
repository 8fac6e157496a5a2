#include "panel/logic/HubActions.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "panel/logic/MainWindowText.h"

namespace korvane::panel {
namespace {

/// The hub state a hub reports when another program held its port at its start.
constexpr std::int32_t kPortTakenState = -1;

std::string newHubName(const std::string& stem, int hubNumber) {
  char number[16];
  std::snprintf(number, sizeof number, "_%04d", hubNumber);
  return stem + number;
}

}  // namespace

int HubActions::newHub(int listedHubs, const std::string& nameStem) {
  if (listedHubs >= kMaxPanelHubs) {
    view_.showMessage(text::kHubLimit, kMaxPanelHubs);
    return 0;
  }
  std::string err;
  const int number = config_.createHub(nameStem, &err);
  if (number == 0) {
    view_.showFailure(err);
    return 0;
  }
  common::HubSettingsChange change;
  change.name = newHubName(nameStem, number);
  change.maxConnections = kNewHubMaxConnections;
  if (!config_.writeHubSettings(number, change, &err)) {
    view_.showFailure(err);  // the hub exists under the stem alone; the list shows it so
  }
  return number;
}

bool HubActions::start(int hubNumber) {
  if (config_.readPort(hubNumber) == 0) {
    view_.showMessage(text::kStartWithoutPort);
    return false;
  }
  std::string err;
  if (!config_.startHub(hubNumber, &err)) {
    view_.showFailure(err);
    return false;
  }
  return true;
}

bool HubActions::checkPortAfterStart(int hubNumber) {
  if (queryState_(hubNumber) != kPortTakenState) {
    return false;
  }
  view_.showMessage(text::kPortTaken);
  (void)stop(hubNumber);
  return true;
}

bool HubActions::stop(int hubNumber) {
  std::string err;
  if (!config_.stopHub(hubNumber, &err)) {
    view_.showFailure(err);
    return false;
  }
  return true;
}

bool HubActions::remove(int hubNumber) {
  if (config_.readStatus(hubNumber).value_or(false)) {
    view_.showMessage(text::kDeleteRunningHub);
    return false;
  }
  if (!view_.confirm(text::kDeleteConfirmation)) {
    return false;
  }
  std::string err;
  if (!config_.deleteHub(hubNumber, &err)) {
    view_.showFailure(err);
    // A file left behind does not bring the hub back: once its section is gone, it is deleted.
    const std::vector<int> listed = config_.listHubs();
    if (std::find(listed.begin(), listed.end(), hubNumber) != listed.end()) {
      return false;
    }
  }
  // The hub's files are gone with it (leases included); the model is dropped so that a hub made
  // later under the number starts without accounts.
  if (!models_.forgetHub(hubNumber, &err)) {
    view_.showFailure(err);
  }
  return true;
}

}  // namespace korvane::panel
