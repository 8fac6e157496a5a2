#pragma once

#include <QString>
#include <functional>
#include <string>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountEditor.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/AccountView.h"
#include "panel/windows/HubListWindow.h"

namespace korvane::panel {

/// The account window of one hub (dialog 109): its accounts in a list, the commands that change
/// them through the shared AccountEditor, and the add, password, import-mode and domain
/// splitter dialogs (117, 118, 170, 174).
class AccountWindow : public HubListWindow {
  Q_OBJECT

 public:
  /// The window of hub `hubNumber`, whose account model comes from `models`; `config` gives the
  /// hub's name, port and AuthFlag and keeps the domain splitter. `hubListChanged` refills the
  /// main window's hub list after a change of the hub's domains.
  AccountWindow(const ResourceLibrary& library, common::ManagerConfig& config,
                AccountModelCache& models, int hubNumber,
                std::function<void()> hubListChanged = {});

 private:
  void selectionChanged() override;
  void refill(const QString& keep);
  const Account* selectedAccount() const;
  void afterChange(AccountCommand command, const QString& keep);

  void addAccount();
  void unlock();
  void cutOrKeep(bool (AccountEditor::*change)(std::u16string_view, std::string*),
                 AccountCommand command);
  void changePassword();
  void toggle(AccountCommand command);
  void importCsv();
  void exportCsv();
  void editSplitter();
  void showCsvMessage(const CsvMessage& message, const QString& caption);

  common::ManagerConfig& config_;
  AccountModelCache& models_;
  std::function<void()> hubListChanged_;
  AccountListModel* model_ = nullptr;
};

}  // namespace korvane::panel
