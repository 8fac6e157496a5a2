#include "panel/windows/AccountWindow.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "panel/logic/DomainSplitter.h"
#include "panel/logic/EditWindowText.h"
#include "panel/logic/TextFormat.h"
#include "panel/windows/MessageBoxes.h"

namespace korvane::panel {
namespace {

constexpr int kAccountColumnWidths[] = {170, 120, 100, 100, 100, 100};
const QString kCsvFilter = QStringLiteral("CSV file (*.csv)");

QString qtText(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string u16(const QString& text) {
  return text.toStdU16String();
}

// Runs `dialog` until its OK is accepted by `accept` (which shows why it is not) or it is
// cancelled; true for an accepted OK.
bool runDialog(QDialog& dialog, const std::function<bool()>& accept) {
  auto* buttons = ResourceLibrary::control<QDialogButtonBox>(&dialog, 1);
  if (buttons == nullptr) {
    return false;
  }
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    if (accept()) {
      dialog.accept();
    }
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  return dialog.exec() == QDialog::Accepted;
}

template <class T>
T* control(QWidget* dialog, int id) {
  return ResourceLibrary::control<T>(dialog, id);
}

}  // namespace

AccountWindow::AccountWindow(const ResourceLibrary& library, common::ManagerConfig& config,
                             AccountModelCache& models, int hubNumber,
                             std::function<void()> hubListChanged)
    : HubListWindow(library, hubNumber, QString::fromStdString(config.readName(hubNumber)),
                    config.readPort(hubNumber),
                    {109, text::kAccountsTitle, icon::kAccountInUse, text::kAccountColumnHeaders,
                     kAccountColumnWidths, "AccountList", "Ostrel_ACListDlg"}),
      config_(config),
      models_(models),
      hubListChanged_(std::move(hubListChanged)) {
  if (window() == nullptr || list() == nullptr) {
    return;
  }
  onCommand(static_cast<int>(AccountCommand::kAdd), [this] { addAccount(); });
  onCommand(static_cast<int>(AccountCommand::kUnlock), [this] { unlock(); });
  onCommand(static_cast<int>(AccountCommand::kLock),
            [this] { cutOrKeep(&AccountEditor::lock, AccountCommand::kLock); });
  onCommand(static_cast<int>(AccountCommand::kDelete),
            [this] { cutOrKeep(&AccountEditor::remove, AccountCommand::kDelete); });
  onCommand(static_cast<int>(AccountCommand::kPassword), [this] { changePassword(); });
  for (AccountCommand command :
       {AccountCommand::kGuest, AccountCommand::kSingle, AccountCommand::kBridge}) {
    onCommand(static_cast<int>(command), [this, command] { toggle(command); });
  }
  onCommand(static_cast<int>(AccountCommand::kImportCsv), [this] { importCsv(); });
  onCommand(static_cast<int>(AccountCommand::kExportCsv), [this] { exportCsv(); });
  onCommand(static_cast<int>(AccountCommand::kDomainSplitter), [this] { editSplitter(); });
  std::string err;
  model_ = models_.model(hubNumber, config_.readDomainSplitter(), &err);
  refill(QString());
  if (model_ == nullptr) {
    showFailure(err);
  }
}

const Account* AccountWindow::selectedAccount() const {
  const QString name = selectedName();
  return model_ == nullptr || name.isEmpty() ? nullptr : model_->find(u16(name));
}

void AccountWindow::selectionChanged() {
  const AccountMenuState state = accountMenuState(selectedAccount());
  const std::pair<AccountCommand, bool> enabled[] = {
      {AccountCommand::kAdd, state.add},           {AccountCommand::kUnlock, state.unlock},
      {AccountCommand::kLock, state.lock},         {AccountCommand::kDelete, state.remove},
      {AccountCommand::kPassword, state.password}, {AccountCommand::kGuest, state.guest},
      {AccountCommand::kSingle, state.single},     {AccountCommand::kBridge, state.bridge}};
  for (const auto& [command, on] : enabled) {
    if (QAction* action = this->command(static_cast<int>(command))) {
      action->setEnabled(on);
    }
  }
  const std::pair<AccountCommand, bool> checked[] = {
      {AccountCommand::kGuest, state.guestChecked},
      {AccountCommand::kSingle, state.singleChecked},
      {AccountCommand::kBridge, state.bridgeChecked}};
  for (const auto& [command, on] : checked) {
    if (QAction* action = this->command(static_cast<int>(command))) {
      action->setChecked(on);
    }
  }
}

void AccountWindow::refill(const QString& keep) {
  list()->clear();
  const std::size_t count = model_ == nullptr ? 0 : model_->accounts().size();
  for (std::size_t i = 0; i < count; ++i) {
    const AccountRow row = accountRow(model_->accounts()[i]);
    auto* item = new QTreeWidgetItem(list());
    item->setIcon(0, library().icon(row.icon));
    item->setText(0, qtText(row.name));
    item->setText(1, qtText(row.domain));
    const int cells[] = {row.type, row.state, row.connections, row.bridge};
    for (int column = 0; column < 4; ++column) {
      item->setText(column + 2, library().text(cells[column]));
    }
  }
  const StatusLine line = accountStatusLine(count, config_.readAuthFlag(hubNumber()) != 0);
  const QByteArray label = library().text(line.id).toUtf8();
  setStatusText(QString::fromStdString(statusLineText(label.toStdString(), line)));
  finishFill(keep);
}

void AccountWindow::afterChange(AccountCommand command, const QString& keep) {
  refill(keep);
  if (refillsHubList(command) && hubListChanged_) {
    hubListChanged_();
  }
}

void AccountWindow::addAccount() {
  if (model_ == nullptr) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  if (editor.isFull()) {
    showText(text::kAccountLimit, static_cast<int>(kMaxAccounts));
    return;
  }
  std::unique_ptr<QWidget> loaded = library().dialog(117, window());
  auto* dialog = qobject_cast<QDialog*>(loaded.get());
  if (dialog == nullptr) {
    return;
  }
  const auto checked = [dialog](int id) {
    auto* button = control<QAbstractButton>(dialog, id);
    return button != nullptr && button->isChecked();
  };
  const auto typed = [dialog](int id) {
    auto* edit = control<QLineEdit>(dialog, id);
    return edit == nullptr ? std::u16string() : u16(edit->text());
  };
  QString added;
  const bool ok = runDialog(*dialog, [&] {
    NewAccountForm form{typed(1021), typed(1007), typed(1010)};
    form.locked = checked(1009);
    form.single = checked(1028);
    form.guest = checked(1094);
    form.bridge = checked(1011);
    if (const std::optional<int> refusal = editor.checkNewAccount(form)) {
      showText(*refusal);
      return false;
    }
    std::string err;
    if (!editor.add(form, &err)) {
      showFailure(err);
      return false;
    }
    added = qtText(form.name);
    return true;
  });
  if (ok) {
    afterChange(AccountCommand::kAdd, added);
  }
}

void AccountWindow::unlock() {
  const QString name = selectedName();
  if (selectedAccount() == nullptr) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  std::string err;
  if (!editor.unlock(u16(name), &err)) {
    showFailure(err);
  }
  afterChange(AccountCommand::kUnlock, name);
}

void AccountWindow::cutOrKeep(bool (AccountEditor::*change)(std::u16string_view, std::string*),
                              AccountCommand command) {
  const QString name = selectedName();
  if (selectedAccount() == nullptr) {
    return;
  }
  if (command == AccountCommand::kDelete &&
      !confirmText(library().text(text::kDeleteAccount) + QStringLiteral("\n* ") + name)) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  std::string err;
  if (!(editor.*change)(u16(name), &err)) {
    showFailure(err);
    refill(name);
    return;
  }
  // The file is written; the hub reads it now, and cuts the account's clients on OK.
  editor.tellClientsCut(confirmText(library().text(text::kCutClientsNow)));
  afterChange(command, name);
}

void AccountWindow::changePassword() {
  const QString name = selectedName();
  if (selectedAccount() == nullptr) {
    return;
  }
  std::unique_ptr<QWidget> loaded = library().dialog(118, window());
  auto* dialog = qobject_cast<QDialog*>(loaded.get());
  if (dialog == nullptr) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  const auto typed = [dialog](int id) {
    auto* edit = control<QLineEdit>(dialog, id);
    return edit == nullptr ? std::u16string() : u16(edit->text());
  };
  const bool ok = runDialog(*dialog, [&] {
    const std::u16string next = typed(1012);
    if (const auto refusal =
            editor.checkPasswordChange(u16(name), typed(1011), next, typed(1013))) {
      showText(*refusal);
      return false;
    }
    std::string err;
    if (!editor.setPassword(u16(name), next, &err)) {
      showFailure(err);
      return false;
    }
    return true;
  });
  if (ok) {
    afterChange(AccountCommand::kPassword, name);
  }
}

void AccountWindow::toggle(AccountCommand command) {
  const QString name = selectedName();
  const Account* account = selectedAccount();
  if (account == nullptr) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  std::string err;
  bool done = false;
  if (command == AccountCommand::kGuest) {
    done = editor.setGuest(u16(name), !account->guest, &err);
  } else if (command == AccountCommand::kSingle) {
    done = editor.setSingle(u16(name), account->connectionMax == 0, &err);
  } else {
    done = editor.setBridge(u16(name), !account->bridgeAllow, &err);
  }
  if (!done) {
    showFailure(err);
  }
  afterChange(command, name);
}

void AccountWindow::importCsv() {
  if (model_ == nullptr) {
    return;
  }
  const QString path = QFileDialog::getOpenFileName(window(), library().text(text::kImportTitle),
                                                    QString(), kCsvFilter);
  if (path.isEmpty()) {
    return;
  }
  CsvImportMode mode = CsvImportMode::kKeepExisting;
  if (!model_->accounts().empty()) {
    std::unique_ptr<QWidget> loaded = library().dialog(170, window());
    auto* dialog = qobject_cast<QDialog*>(loaded.get());
    if (dialog == nullptr || !runDialog(*dialog, [] { return true; })) {
      return;
    }
    for (auto [id, choice] : {std::pair{1106, CsvImportMode::kReplaceAll},
                              std::pair{1104, CsvImportMode::kOverwriteSameName}}) {
      if (auto* button = control<QRadioButton>(dialog, id); button && button->isChecked()) {
        mode = choice;
      }
    }
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  const CsvMessage message = editor.importCsv(path.toStdString(), mode);
  afterChange(AccountCommand::kImportCsv, selectedName());
  showCsvMessage(message, QStringLiteral("Importing"));
}

void AccountWindow::exportCsv() {
  if (model_ == nullptr) {
    return;
  }
  const QString path = QFileDialog::getSaveFileName(window(), library().text(text::kExportTitle),
                                                    QString(), kCsvFilter);
  if (path.isEmpty()) {
    return;
  }
  AccountEditor editor(*model_, pipeReloadSender(hubNumber()));
  showCsvMessage(editor.exportCsv(path.toStdString()), QStringLiteral("Exporting"));
}

void AccountWindow::showCsvMessage(const CsvMessage& message, const QString& caption) {
  std::string text = library().text(message.id).toStdString();
  if (message.number) {
    text = formatWithNumber(text, *message.number);
  } else if (!message.name.empty()) {
    const std::string name = qtText(message.name).toStdString();
    text = formatWithTexts(text, std::span(&name, 1));
  }
  const bool done = message.id == text::kImported || message.id == text::kExported;
  panelMessageBox(window(), done ? QMessageBox::Information : QMessageBox::Warning,
                  QString::fromStdString(text), QMessageBox::Ok, QMessageBox::NoButton, caption);
}

void AccountWindow::editSplitter() {
  std::unique_ptr<QWidget> loaded = library().dialog(174, window());
  auto* dialog = qobject_cast<QDialog*>(loaded.get());
  auto* none = dialog ? control<QRadioButton>(dialog, 1108) : nullptr;
  auto* one = dialog ? control<QRadioButton>(dialog, 1109) : nullptr;
  auto* typed = dialog ? control<QLineEdit>(dialog, 1023) : nullptr;
  auto* warning = dialog ? control<QLabel>(dialog, 1112) : nullptr;
  auto* label = dialog ? control<QLabel>(dialog, 1110) : nullptr;
  auto* hint = dialog ? control<QLabel>(dialog, 1111) : nullptr;
  if (!none || !one || !typed || !warning || !label || !hint) {
    return;
  }
  warning->setStyleSheet(QStringLiteral("color: #ff0000; background: transparent;"));
  const auto choose = [=] {
    const bool character = one->isChecked();
    for (QWidget* widget : {static_cast<QWidget*>(label), static_cast<QWidget*>(hint),
                            static_cast<QWidget*>(typed)}) {
      widget->setEnabled(character);
    }
    if (!character) {
      warning->hide();
    }
  };
  const char current = config_.readDomainSplitter();
  (current == kNoDomainSplitter ? none : one)->setChecked(true);
  typed->setText(QString::fromStdString(splitterText(current)));
  choose();
  connect(one, &QRadioButton::toggled, dialog, choose);
  connect(typed, &QLineEdit::textEdited, warning, &QWidget::hide);
  std::optional<char> chosen;
  const bool ok = runDialog(*dialog, [&] {
    chosen = splitterOfDialog(none->isChecked(), u16(typed->text()));
    if (!chosen) {
      warning->show();
      return false;
    }
    std::string err;
    if (!config_.writeDomainSplitter(*chosen, &err)) {
      showFailure(err);
      return false;
    }
    return true;
  });
  if (!ok) {
    return;
  }
  // The domains of the accounts follow the new splitter at once, in this list and the hub list.
  std::string err;
  model_ = models_.model(hubNumber(), *chosen, &err);
  if (model_ == nullptr) {
    showFailure(err);
  }
  refill(selectedName());
  if (hubListChanged_) {
    hubListChanged_();
  }
}

}  // namespace korvane::panel
