#include "panel/logic/AccountEditor.h"

#include "panel/logic/EditWindowText.h"

namespace korvane::panel {
namespace {

constexpr bool kKeepClients = false;
constexpr bool kRecheckClients = true;

}  // namespace

bool AccountEditor::isFull() const {
  return model_.accounts().size() >= kMaxAccounts;
}

std::optional<int> AccountEditor::checkNewAccount(const NewAccountForm& form) const {
  if (form.name.empty()) {
    return text::kEnterAccountName;
  }
  if (form.password.empty()) {
    return text::kEnterPassword;
  }
  if (form.password != form.passwordAgain) {
    return text::kPasswordsDiffer;
  }
  if (!model_.nameIsFree(form.name)) {
    return text::kAccountNameTaken;
  }
  return std::nullopt;
}

bool AccountEditor::add(const NewAccountForm& form, std::string* err) {
  Account account;
  account.name = form.name;
  account.password = form.password;
  account.status = form.locked ? AccountStatus::kLocked : AccountStatus::kInUse;
  account.connectionMax = form.single ? 1 : 0;
  account.guest = form.guest;
  account.bridgeAllow = form.bridge;
  if (!model_.addAccount(account, err)) {
    return false;
  }
  tell(kKeepClients);
  return true;
}

std::optional<int> AccountEditor::checkPasswordChange(std::u16string_view name,
                                                      std::u16string_view current,
                                                      std::u16string_view next,
                                                      std::u16string_view nextAgain) const {
  const Account* account = model_.find(name);
  if (account == nullptr || account->password != current) {
    return text::kWrongPassword;
  }
  if (next != nextAgain) {
    return text::kPasswordsDiffer;
  }
  // An account without a password cannot log in; the model refuses one, so the user is asked.
  if (next.empty()) {
    return text::kEnterPassword;
  }
  return std::nullopt;
}

bool AccountEditor::setPassword(std::u16string_view name, std::u16string_view password,
                                std::string* err) {
  if (!model_.setPassword(name, password, err)) {
    return false;
  }
  tell(kKeepClients);
  return true;
}

bool AccountEditor::unlock(std::u16string_view name, std::string* err) {
  if (!model_.unlock(name, err)) {
    return false;
  }
  tell(kKeepClients);
  return true;
}

bool AccountEditor::lock(std::u16string_view name, std::string* err) {
  return model_.lock(name, err);
}

bool AccountEditor::remove(std::u16string_view name, std::string* err) {
  return model_.deleteAccount(name, err);
}

void AccountEditor::tellClientsCut(bool cutNow) {
  tell(cutNow ? kRecheckClients : kKeepClients);
}

bool AccountEditor::setGuest(std::u16string_view name, bool guest, std::string* err) {
  if (!model_.setGuest(name, guest, err)) {
    return false;
  }
  tell(kRecheckClients);
  return true;
}

bool AccountEditor::setSingle(std::u16string_view name, bool single, std::string* err) {
  if (!model_.setConnectionLimit(name, single ? 1 : 0, err)) {
    return false;
  }
  tell(kRecheckClients);
  return true;
}

bool AccountEditor::setBridge(std::u16string_view name, bool allowed, std::string* err) {
  if (!model_.setBridge(name, allowed, err)) {
    return false;
  }
  tell(kRecheckClients);
  return true;
}

CsvMessage AccountEditor::importCsv(const std::string& path, CsvImportMode mode,
                                    CsvImportResult* result) {
  const CsvImportResult imported = model_.importCsv(path, mode);
  // A failed import takes nothing, so the hub has nothing to read again.
  if (imported.ok()) {
    tell(kRecheckClients);
  }
  if (result != nullptr) {
    *result = imported;
  }
  return importMessage(imported);
}

CsvMessage AccountEditor::exportCsv(const std::string& path, CsvExportResult* result) const {
  const CsvExportResult exported = model_.exportCsv(path);
  if (result != nullptr) {
    *result = exported;
  }
  return exportMessage(exported);
}

void AccountEditor::tell(bool recheckClients) {
  lastReload_.err.clear();
  lastReload_.delivery = sender_(accountsReload(recheckClients), &lastReload_.err);
}

CsvMessage importMessage(const CsvImportResult& result) {
  switch (result.error) {
    case CsvError::kNone:
      return {text::kImported, std::nullopt, {}};
    case CsvError::kBadLine:
      return {text::kImportBadLine, result.line, {}};
    case CsvError::kListFull:
      return {text::kImportListFull, static_cast<int>(kMaxAccounts), {}};
    case CsvError::kNameTooLong:
    case CsvError::kPasswordTooLong:
    case CsvError::kBadType:
    case CsvError::kBadState:
    case CsvError::kBadConnections: {
      const int index = static_cast<int>(result.error) - static_cast<int>(CsvError::kNameTooLong);
      return {text::kImportLineFailures[index], result.line, {}};
    }
    default:
      return {text::kCannotOpenFile, std::nullopt, {}};
  }
}

CsvMessage exportMessage(const CsvExportResult& result) {
  switch (result.error) {
    case CsvError::kNone:
      return {text::kExported, std::nullopt, {}};
    case CsvError::kNameNotWritable:
      return {text::kNameNotExportable, std::nullopt, result.failedName};
    case CsvError::kPasswordNotWritable:
      return {text::kPasswordNotExportable, std::nullopt, result.failedName};
    default:
      return {text::kCannotOpenFile, std::nullopt, {}};
  }
}

}  // namespace korvane::panel
