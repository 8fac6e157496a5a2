#pragma once

#include <map>
#include <string>

#include "panel/logic/AccountListModel.h"

namespace korvane::panel {

/// The panel's account list models, one per hub: made on the first request for a hub (which
/// reads its account file) and kept until the hub is forgotten, so that every window and command
/// of the panel works on the same list.
class AccountModelCache {
 public:
  /// A cache for the account files in `iniDirectory`.
  explicit AccountModelCache(std::string iniDirectory) : iniDirectory_(std::move(iniDirectory)) {}

  /// The model of hub `hubNumber`, read from its file on the first request. A cached model
  /// whose splitter differs from `splitter` takes the new one and reads the file again, so its
  /// domains follow the manager's setting. nullptr with a message in `err` when the file exists
  /// but cannot be read (nothing is cached then).
  AccountListModel* model(int hubNumber, char splitter, std::string* err);

  /// True when a model of hub `hubNumber` is cached.
  bool holds(int hubNumber) const { return models_.contains(hubNumber); }

  /// Drops the model of hub `hubNumber` and deletes its account file; a hub without model or
  /// file is forgotten all the same. False with a message in `err` when the file cannot be
  /// deleted (the model is dropped even then, so the next request reads what is left).
  [[nodiscard]] bool forgetHub(int hubNumber, std::string* err);

 private:
  std::string iniDirectory_;
  std::map<int, AccountListModel> models_;
};

}  // namespace korvane::panel
