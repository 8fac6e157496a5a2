#include "panel/logic/AccountListModel.h"

#include <algorithm>
#include <utility>

#include "panel/logic/HubNumber.h"
#include "platform/ProfileFile.h"
#include "platform/WholeFile.h"

namespace korvane::panel {

namespace {

// Why `text` cannot be an account's name or password (`what`); empty when it can.
std::string textProblem(std::u16string_view text, const char* what) {
  if (text.empty()) {
    return std::string("the ") + what + " is empty";
  }
  if (text.size() > kMaxAccountTextUnits) {
    return std::string("the ") + what + " is longer than 64 characters";
  }
  if (text.find(u'\0') != std::u16string_view::npos) {
    return std::string("the ") + what + " holds a zero character";
  }
  return {};
}

std::string noAccount(std::u16string_view name) {
  return "there is no account named \"" + common::displayText(name) + "\"";
}

std::vector<Account>::iterator findByName(std::vector<Account>* accounts,
                                          std::u16string_view name) {
  return std::find_if(accounts->begin(), accounts->end(),
                      [&](const Account& account) { return account.name == name; });
}

}  // namespace

std::optional<AccountListModel> AccountListModel::open(const std::string& iniDirectory,
                                                       int hubNumber, char splitter,
                                                       std::string* err) {
  if (!isHubNumber(hubNumber, err)) {
    return std::nullopt;
  }
  AccountListModel model(common::accountFilePath(iniDirectory, hubNumber), hubNumber,
                         common::splitterUnit(splitter));
  if (!model.reload(err)) {
    return std::nullopt;
  }
  return model;
}

std::vector<std::u16string> AccountListModel::domains() const {
  const auto count = static_cast<std::size_t>(highestDomainIndex_) + 1;
  std::vector<std::u16string> names(count);
  std::vector<bool> named(count, false);
  for (const Account& account : accounts_) {
    const auto index = static_cast<std::size_t>(account.domainIndex);
    if (index > 0 && !named[index]) {
      names[index] = account.domain;
      named[index] = true;
    }
  }
  return names;
}

bool AccountListModel::reload(std::string* err) {
  std::string text;
  std::string readError;
  if (platform::readWholeFile(path_, &text, &readError) == platform::ReadOutcome::kFailed) {
    *err = "cannot read " + path_ + ": " + readError;
    return false;
  }
  adopt(common::parseAccountFile(text));
  fileText_ = std::move(text);
  return true;
}

bool AccountListModel::changeSplitter(char splitter, std::string* err) {
  const char16_t previous = splitter_;
  splitter_ = common::splitterUnit(splitter);
  if (!reload(err)) {
    splitter_ = previous;
    return false;
  }
  return true;
}

const Account* AccountListModel::find(std::u16string_view name) const {
  const auto found = std::find_if(accounts_.begin(), accounts_.end(),
                                  [&](const Account& account) { return account.name == name; });
  return found == accounts_.end() ? nullptr : &*found;
}

AccountStatus AccountListModel::readStatus(std::u16string_view name) const {
  const Account* account = find(name);
  return account ? account->status : AccountStatus::kInUse;
}

bool AccountListModel::readGuest(std::u16string_view name) const {
  const Account* account = find(name);
  return account ? account->guest : false;
}

int AccountListModel::readConnectionLimit(std::u16string_view name) const {
  const Account* account = find(name);
  return account ? account->connectionMax : 0;
}

bool AccountListModel::readBridge(std::u16string_view name) const {
  const Account* account = find(name);
  return account ? account->bridgeAllow : true;
}

std::u16string AccountListModel::readPassword(std::u16string_view name) const {
  const Account* account = find(name);
  return account ? account->password : std::u16string();
}

bool AccountListModel::addAccount(const Account& account, std::string* err) {
  std::string problem = textProblem(account.name, "name");
  if (problem.empty()) {
    problem = textProblem(account.password, "password");
  }
  if (!problem.empty()) {
    *err = problem;
    return false;
  }
  if (account.status != AccountStatus::kInUse && account.status != AccountStatus::kLocked) {
    *err = "the status must be 0 (in use) or 1 (locked)";
    return false;
  }
  if (account.connectionMax < 0) {
    *err = "the connection limit must not be negative";
    return false;
  }
  return commit(
      [&](std::vector<Account>* accounts, bool, std::string* refusal) {
        if (findByName(accounts, account.name) != accounts->end()) {
          *refusal =
              "an account named \"" + common::displayText(account.name) + "\" exists already";
          return false;
        }
        if (accounts->size() >= kMaxAccounts) {
          *refusal =
              "the hub has " + std::to_string(kMaxAccounts) + " accounts, the most it can have";
          return false;
        }
        accounts->push_back(account);
        return true;
      },
      err);
}

bool AccountListModel::deleteAccount(std::u16string_view name, std::string* err) {
  return commit(
      [&](std::vector<Account>* accounts, bool, std::string* refusal) {
        const auto found = findByName(accounts, name);
        if (found == accounts->end()) {
          *refusal = noAccount(name);
          return false;
        }
        accounts->erase(found);
        return true;
      },
      err);
}

bool AccountListModel::lock(std::u16string_view name, std::string* err) {
  return changeAccount(name, err,
                       [](Account* account) { account->status = AccountStatus::kLocked; });
}

bool AccountListModel::unlock(std::u16string_view name, std::string* err) {
  return changeAccount(name, err,
                       [](Account* account) { account->status = AccountStatus::kInUse; });
}

bool AccountListModel::setGuest(std::u16string_view name, bool guest, std::string* err) {
  return changeAccount(name, err, [&](Account* account) { account->guest = guest; });
}

bool AccountListModel::setConnectionLimit(std::u16string_view name, int limit, std::string* err) {
  if (limit < 0) {
    *err = "the connection limit must not be negative";
    return false;
  }
  return changeAccount(name, err, [&](Account* account) { account->connectionMax = limit; });
}

bool AccountListModel::setBridge(std::u16string_view name, bool allowed, std::string* err) {
  return changeAccount(name, err, [&](Account* account) { account->bridgeAllow = allowed; });
}

bool AccountListModel::setPassword(std::u16string_view name, std::u16string_view password,
                                   std::string* err) {
  const std::string problem = textProblem(password, "password");
  if (!problem.empty()) {
    *err = problem;
    return false;
  }
  return changeAccount(name, err, [&](Account* account) { account->password = password; });
}

CsvExportResult AccountListModel::exportCsv(const std::string& path) const {
  return exportAccountsCsv(path, accounts_);
}

CsvImportResult AccountListModel::importCsv(const std::string& path, CsvImportMode mode) {
  // The CSV file is read before the account file is locked, so a slow or bad CSV file never
  // holds up the other writers of the folder.
  std::vector<Account> imported = accounts_;
  CsvImportResult result = importAccountsCsv(path, mode, &imported);
  if (!result.ok()) {
    return result;
  }
  const bool changed =
      mode == CsvImportMode::kReplaceAll || result.added > 0 || result.replaced > 0;
  if (!changed) {
    return result;
  }
  CsvImportResult failure;
  std::string err;
  const bool saved = commit(
      [&](std::vector<Account>* accounts, bool fileChanged, std::string* refusal) {
        if (!fileChanged) {
          *accounts = std::move(imported);
          return true;
        }
        // The file changed since it was read: the CSV lines apply to its accounts as they are.
        result = importAccountsCsv(path, mode, accounts);
        if (!result.ok()) {
          failure = result;
          *refusal = result.message;
          return false;
        }
        return true;
      },
      &err);
  if (!saved) {
    if (!failure.ok()) {
      return failure;
    }
    result = CsvImportResult{};
    result.error = CsvError::kCannotOpen;
    result.message = err;
  }
  return result;
}

HubDelivery AccountListModel::tellHub(bool recheckClients, std::string* err,
                                      const HubCommandClient& client) const {
  return client.send(hubNumber_, accountsReload(recheckClients), err);
}

// Applies the change to the accounts as the file holds them under the folder lock and writes
// them back in the same replacement. The file differs from what the model last read or wrote
// when another program wrote it meanwhile; its accounts are then read anew, so that change stays.
bool AccountListModel::commit(const Change& change, std::string* err) {
  std::vector<Account> accounts;
  std::string written;
  bool refused = false;
  std::string editError;
  const bool saved = platform::profile::editFile(
      path_,
      [&](platform::profile::ProfileText& file, std::string* refusal) {
        const bool fileChanged = file.text() != fileText_;
        accounts = fileChanged ? common::parseAccountFile(file.text()) : accounts_;
        std::optional<std::string> text;
        if (!change(&accounts, fileChanged, refusal) ||
            !(text = common::formatAccountFile(accounts, refusal))) {
          refused = true;
          return false;
        }
        written = *text;
        file = platform::profile::ProfileText(std::move(*text));
        return true;
      },
      &editError);
  if (!saved) {
    *err = refused ? editError : "cannot write " + path_ + ": " + editError;
    return false;
  }
  adopt(std::move(accounts));
  fileText_ = std::move(written);
  return true;
}

void AccountListModel::adopt(std::vector<Account> accounts) {
  highestDomainIndex_ = common::numberDomains(&accounts, splitter_);
  accounts_ = std::move(accounts);
}

template <typename Edit>
bool AccountListModel::changeAccount(std::u16string_view name, std::string* err, Edit edit) {
  return commit(
      [&](std::vector<Account>* accounts, bool, std::string* refusal) {
        const auto found = findByName(accounts, name);
        if (found == accounts->end()) {
          *refusal = noAccount(name);
          return false;
        }
        edit(&*found);
        return true;
      },
      err);
}

}  // namespace korvane::panel
