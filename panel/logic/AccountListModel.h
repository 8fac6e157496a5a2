#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/logic/Account.h"
#include "panel/logic/AccountCsv.h"
#include "panel/logic/HubCommandClient.h"

namespace korvane::panel {

/// The accounts of one hub as the panel edits them: the hub's account file "%04d_account.ini"
/// read into a list, changed by account name (exact, case-sensitive), and written back whole
/// after every change in the format the hub reads. Another program (kvctl, a second panel) may
/// write the file meanwhile: the model keeps the file's content as it last read or wrote it, and
/// a change finding the file different applies to the accounts the file holds now, read and
/// written under the folder lock, so the other program's change is never undone. Every change
/// is all or nothing: a refused change (checked against the accounts as they are in the file),
/// or one whose file cannot be written, leaves both the list and the file as they were; after a
/// change the list mirrors the file as written.
class AccountListModel {
 public:
  /// The model of hub `hubNumber` whose account file lies in `iniDirectory`, with domains cut
  /// at `splitter` (carriage return: none), loaded from the file (a missing file is an empty
  /// list). std::nullopt with a message in `err` when the file exists but cannot be read.
  static std::optional<AccountListModel> open(const std::string& iniDirectory, int hubNumber,
                                              char splitter, std::string* err);

  int hubNumber() const { return hubNumber_; }
  const std::string& path() const { return path_; }
  char16_t splitter() const { return splitter_; }

  /// The accounts in file order, with their domains and domain indexes.
  const std::vector<Account>& accounts() const { return accounts_; }
  /// The highest domain index in use; 0 when every account is global.
  int highestDomainIndex() const { return highestDomainIndex_; }
  /// The domains by index, as the hub numbers its segments: position 0 is the global domain
  /// (empty), position i the domain of index i.
  std::vector<std::u16string> domains() const;

  /// Reads the file again, replacing the list. False with a message in `err` when the file
  /// exists but cannot be read; the list is then unchanged.
  [[nodiscard]] bool reload(std::string* err);
  /// Cuts domains at `splitter` from now on and reads the file again; false as reload.
  [[nodiscard]] bool changeSplitter(char splitter, std::string* err);

  /// The first account named `name`; nullptr when there is none.
  const Account* find(std::u16string_view name) const;
  /// True when no account is named `name`.
  bool nameIsFree(std::u16string_view name) const { return find(name) == nullptr; }

  /// The account's status; kInUse when the name is unknown.
  AccountStatus readStatus(std::u16string_view name) const;
  /// Whether the account is a guest; false when the name is unknown.
  bool readGuest(std::u16string_view name) const;
  /// The account's connection limit; 0 when the name is unknown.
  int readConnectionLimit(std::u16string_view name) const;
  /// Whether the account may connect a bridge; true when the name is unknown.
  bool readBridge(std::u16string_view name) const;
  /// The account's password; empty when the name is unknown.
  std::u16string readPassword(std::u16string_view name) const;

  /// Appends `account` (its domain fields are ignored), saves and reads the file again. Refused
  /// with a message in `err` for an empty or taken name, an empty password, a name or password
  /// over 64 characters or holding a zero character, a status other than kInUse or kLocked, a
  /// negative connection limit, a list of kMaxAccounts accounts, or a file that cannot be written.
  [[nodiscard]] bool addAccount(const Account& account, std::string* err);
  /// Removes the account named `name`, saves and reads the file again. Refused for an unknown
  /// name or a file that cannot be written.
  [[nodiscard]] bool deleteAccount(std::u16string_view name, std::string* err);
  /// Sets the account's status to kLocked and saves. Refused for an unknown name or an
  /// unwritable file.
  [[nodiscard]] bool lock(std::u16string_view name, std::string* err);
  /// Sets the account's status to kInUse and saves. Refused as lock.
  [[nodiscard]] bool unlock(std::u16string_view name, std::string* err);
  /// Makes the account a guest or a normal account and saves. Refused as lock.
  [[nodiscard]] bool setGuest(std::u16string_view name, bool guest, std::string* err);
  /// Sets the account's connection limit (0: any number, 1: single) and saves. Refused as lock,
  /// and for a negative limit.
  [[nodiscard]] bool setConnectionLimit(std::u16string_view name, int limit, std::string* err);
  /// Allows or forbids the account to connect a bridge and saves. Refused as lock.
  [[nodiscard]] bool setBridge(std::u16string_view name, bool allowed, std::string* err);
  /// Sets the account's password and saves. Refused as lock, and for a password that addAccount
  /// refuses.
  [[nodiscard]] bool setPassword(std::u16string_view name, std::u16string_view password,
                                 std::string* err);

  /// Writes the accounts to the CSV file `path`; see exportAccountsCsv.
  [[nodiscard]] CsvExportResult exportCsv(const std::string& path) const;
  /// Takes the accounts of the CSV file `path` by `mode`, then saves once and reads the file
  /// again. Only a whole file is taken: on any failure (the result's code, line and message say
  /// which) neither the list nor the account file changes.
  [[nodiscard]] CsvImportResult importCsv(const std::string& path, CsvImportMode mode);

  /// Tells the running hub that its accounts changed: command 5 when `recheckClients` (the hub
  /// then checks its connected clients against them), else 2.
  HubDelivery tellHub(bool recheckClients, std::string* err,
                      const HubCommandClient& client = HubCommandClient()) const;

 private:
  AccountListModel(std::string path, int hubNumber, char16_t splitter)
      : path_(std::move(path)), hubNumber_(hubNumber), splitter_(splitter) {}

  // One change of the list, applied to `accounts` as the file holds them now; `fileChanged`
  // tells that they differ from the model's list. Refuses with a message in `err`.
  using Change =
      std::function<bool(std::vector<Account>* accounts, bool fileChanged, std::string* err)>;

  [[nodiscard]] bool commit(const Change& change, std::string* err);
  void adopt(std::vector<Account> accounts);
  template <typename Edit>
  bool changeAccount(std::u16string_view name, std::string* err, Edit edit);

  std::string path_;
  int hubNumber_ = 0;
  char16_t splitter_ = u'\r';  // carriage return: no splitter
  std::vector<Account> accounts_;
  int highestDomainIndex_ = 0;
  // The file's content as the model last read or wrote it.
  std::string fileText_;
};

}  // namespace korvane::panel
