#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "panel/logic/AccountListModel.h"
#include "panel/logic/HubReloadSender.h"

namespace korvane::panel {

/// What the add dialog was given for a new account.
struct NewAccountForm {
  std::u16string name;
  std::u16string password;
  std::u16string passwordAgain;
  bool locked = false;
  bool single = false;
  bool guest = false;
  bool bridge = true;
};

/// A message about a CSV import or export: string `id`, filled with `number` or `name` when it
/// is a format.
struct CsvMessage {
  int id = 0;
  std::optional<int> number;
  std::u16string name;

  bool operator==(const CsvMessage&) const = default;
};

/// The account changes of one hub, made by the account window and by kvctl alike: each writes
/// the account file through the model and then tells the hub with the command that change
/// needs. Adding, unlocking and a new password keep the connected clients (command 2); the
/// switches and an import have them checked again (command 5); after a lock or a delete the
/// user decides (tellClientsCut), since cutting a locked account's clients is not always wanted.
class AccountEditor {
 public:
  /// An editor of `model`'s accounts that tells the hub through `sender`.
  AccountEditor(AccountListModel& model, HubReloadSender sender)
      : model_(model), sender_(std::move(sender)) {}

  /// True when the list holds kMaxAccounts accounts, so Add is refused with string 25.
  bool isFull() const;

  /// The string that refuses `form`, checked in the order the user reads the dialog: no name
  /// (26), no password (27), the repetition differs (29), the name is taken (28).
  std::optional<int> checkNewAccount(const NewAccountForm& form) const;
  /// Adds the account of `form` and tells the hub (command 2). False with a message in `err`
  /// when the model refuses it or the file cannot be written; nothing is sent then.
  [[nodiscard]] bool add(const NewAccountForm& form, std::string* err);

  /// The string that refuses a password change of account `name`: the current password is not
  /// the stored one (30), the new one and its repetition differ (29), the new one is empty (27).
  std::optional<int> checkPasswordChange(std::u16string_view name, std::u16string_view current,
                                         std::u16string_view next,
                                         std::u16string_view nextAgain) const;
  /// Gives account `name` the password `password` and tells the hub (command 2).
  [[nodiscard]] bool setPassword(std::u16string_view name, std::u16string_view password,
                                 std::string* err);

  /// Unlocks account `name` and tells the hub (command 2).
  [[nodiscard]] bool unlock(std::u16string_view name, std::string* err);
  /// Locks account `name`; the hub learns of it through tellClientsCut.
  [[nodiscard]] bool lock(std::u16string_view name, std::string* err);
  /// Deletes account `name`; the hub learns of it through tellClientsCut.
  [[nodiscard]] bool remove(std::u16string_view name, std::string* err);
  /// Tells the hub of a lock or delete: command 5 when the clients of the account are to be cut
  /// now, else 2.
  void tellClientsCut(bool cutNow);

  /// Makes account `name` a guest or a normal account and tells the hub (command 5).
  [[nodiscard]] bool setGuest(std::u16string_view name, bool guest, std::string* err);
  /// Limits account `name` to a single connection or none and tells the hub (command 5).
  [[nodiscard]] bool setSingle(std::u16string_view name, bool single, std::string* err);
  /// Allows or forbids account `name` to connect a bridge and tells the hub (command 5).
  [[nodiscard]] bool setBridge(std::u16string_view name, bool allowed, std::string* err);

  /// Takes the accounts of CSV file `path` by `mode`; when the whole file was taken the hub is
  /// told (command 5). The message to show: string 86 on success, else the failure's string.
  /// `result`, when given, receives the model's result.
  CsvMessage importCsv(const std::string& path, CsvImportMode mode,
                       CsvImportResult* result = nullptr);
  /// Writes the accounts to CSV file `path`; string 85 on success, else the failure's string.
  CsvMessage exportCsv(const std::string& path, CsvExportResult* result = nullptr) const;

  /// What became of the last command sent to the hub.
  const ReloadReport& lastReload() const { return lastReload_; }

 private:
  void tell(bool recheckClients);

  AccountListModel& model_;
  HubReloadSender sender_;
  ReloadReport lastReload_;
};

/// The message for a CSV import's result.
CsvMessage importMessage(const CsvImportResult& result);
/// The message for a CSV export's result.
CsvMessage exportMessage(const CsvExportResult& result);

}  // namespace korvane::panel
