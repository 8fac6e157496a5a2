#include "panel/logic/AccountModelCache.h"

#include <optional>

#include "panel/logic/HubNumber.h"
#include "platform/WholeFile.h"

namespace korvane::panel {

AccountListModel* AccountModelCache::model(int hubNumber, char splitter, std::string* err) {
  const auto cached = models_.find(hubNumber);
  if (cached != models_.end()) {
    AccountListModel& model = cached->second;
    if (model.splitter() != common::splitterUnit(splitter) &&
        !model.changeSplitter(splitter, err)) {
      return nullptr;
    }
    return &model;
  }
  std::optional<AccountListModel> loaded =
      AccountListModel::open(iniDirectory_, hubNumber, splitter, err);
  if (!loaded) {
    return nullptr;
  }
  return &models_.emplace(hubNumber, std::move(*loaded)).first->second;
}

bool AccountModelCache::forgetHub(int hubNumber, std::string* err) {
  if (!isHubNumber(hubNumber, err)) {
    return false;
  }
  models_.erase(hubNumber);
  std::string removeError;
  const std::string path = common::accountFilePath(iniDirectory_, hubNumber);
  if (!platform::removeFile(path, &removeError)) {
    *err = "cannot delete " + path + ": " + removeError;
    return false;
  }
  return true;
}

}  // namespace korvane::panel
