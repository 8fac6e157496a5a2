#include "panel/windows/ScreenshotMode.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <memory>
#include <vector>

#include "panel/logic/HubList.h"
#include "panel/logic/HubMenuState.h"
#include "panel/logic/MainWindowText.h"
#include "panel/windows/HubSettingsDialog.h"
#include "panel/windows/Panel.h"
#include "panel/windows/PortMappingDialog.h"
#include "panel/windows/StatusWindow.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

/// Time for the windows to lay out and for the status window to fetch its connections.
constexpr auto kSettleTime = 1500ms;
constexpr int kHubListControl = 1000;
constexpr int kAccountDialog = 109;
constexpr int kFilterDialog = 140;
/// The account window's Add and Password commands and the filter window's Edit.
constexpr int kAddAccountCommand = 112;
constexpr int kPasswordCommand = 116;
constexpr int kEditRuleCommand = 146;
/// The dialogs pictured as they first show: CSV import mode, domain splitter, key generator. The
/// others are pictured as their windows open them.
constexpr int kPicturedDialogs[] = {170, 174, 135};

QAction* commandOf(const Panel& panel, MainCommand command) {
  return panel.mainWindow()->window()->findChild<QAction*>(
      ResourceLibrary::controlName(static_cast<int>(command)));
}

void save(QWidget* widget, const QString& folder, const QString& name) {
  if (widget != nullptr) {
    widget->grab().save(folder + QLatin1Char('/') + name);
  }
}

// Selects the first hub whose state column reads `stateText`, so that its commands are on.
void selectHub(const Panel& panel, const QString& stateText) {
  auto* list = panel.mainWindow()->window()->findChild<QTreeWidget*>(
      ResourceLibrary::controlName(kHubListControl));
  for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(3) == stateText) {
      list->setCurrentItem(list->topLevelItem(i));
      return;
    }
  }
}

// The open top-level window made from dialog `id`.
QWidget* openWindow(int id) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->objectName() == ResourceLibrary::controlName(id)) {
      return widget;
    }
  }
  return nullptr;
}

QWidget* openStatusWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && qobject_cast<StatusWindow*>(widget) != nullptr) {
      return widget;
    }
  }
  return nullptr;
}

void trigger(const Panel& panel, MainCommand command) {
  if (QAction* action = commandOf(panel, command); action && action->isEnabled()) {
    action->trigger();
  }
}

// The hub settings dialog of the selected (stopped) hub and the dialogs that the account,
// filter and settings windows open, each as it first shows.
void takeDialogs(Panel& panel, const QString& folder) {
  const ResourceLibrary& library = panel.context().library;
  const int hub = panel.mainWindow()->selectedHubNumber().value_or(1);
  HubSettingsDialog settings(library, panel.context().config, panel.context().models, hub, false,
                             nullptr);
  settings.open();
  // The hub has no router mapping stored, so the dialog asks no router while it opens.
  UpnpPortMapper router;
  PortMappingDialog mapping(library, panel.context().config, hub,
                            panel.context().config.readPort(hub), router, nullptr);
  mapping.open();
  std::vector<std::unique_ptr<QWidget>> dialogs;
  for (const int id : kPicturedDialogs) {
    if (std::unique_ptr<QWidget> dialog = library.dialog(id)) {
      dialog->show();
      dialogs.push_back(std::move(dialog));
    }
  }
  QApplication::processEvents();
  save(settings.dialog(), folder, QStringLiteral("settings.png"));
  save(mapping.dialog(), folder, QStringLiteral("155.png"));
  for (const auto& dialog : dialogs) {
    save(dialog.get(), folder, dialog->objectName().mid(2) + QStringLiteral(".png"));
  }
}

void selectFirstRow(QWidget* window) {
  auto* list = window == nullptr
                   ? nullptr
                   : window->findChild<QTreeWidget*>(ResourceLibrary::controlName(kHubListControl));
  if (list != nullptr && list->topLevelItemCount() > 0) {
    list->setCurrentItem(list->topLevelItem(0));
  }
}

// Saves the modal dialog that command `command` of `window` opens, then cancels it.
void takeModal(QWidget* window, int command, const QString& folder, const QString& name) {
  auto* action = window == nullptr
                     ? nullptr
                     : window->findChild<QAction*>(ResourceLibrary::controlName(command));
  if (action == nullptr || !action->isEnabled()) {
    return;
  }
  QTimer::singleShot(kSettleTime, [folder, name] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      save(dialog, folder, name);
      dialog->reject();
    }
  });
  action->trigger();  // returns once the dialog is closed
}

void takeHubWindows(Panel& panel, const QString& folder) {
  save(openStatusWindow(), folder, QStringLiteral("status.png"));
  QWidget* accounts = openWindow(kAccountDialog);
  save(accounts, folder, QStringLiteral("accounts.png"));
  takeModal(accounts, kAddAccountCommand, folder, QStringLiteral("117.png"));
  selectFirstRow(accounts);
  takeModal(accounts, kPasswordCommand, folder, QStringLiteral("118.png"));
  // The filter window opens for a stopped hub, the one the settings show too.
  selectHub(panel, panel.context().library.text(text::kStopped));
  trigger(panel, MainCommand::kFilter);
  QTimer::singleShot(kSettleTime, [&panel, folder] {
    QWidget* filter = openWindow(kFilterDialog);
    save(filter, folder, QStringLiteral("filter.png"));
    selectFirstRow(filter);
    takeModal(filter, kEditRuleCommand, folder, QStringLiteral("150.png"));
    takeDialogs(panel, folder);
    QApplication::quit();
  });
}

void takeAboutAndStatus(Panel& panel, const QString& folder) {
  QTimer::singleShot(kSettleTime, [folder] {
    QWidget* about = QApplication::activeModalWidget();
    save(about, folder, QStringLiteral("about.png"));
    if (auto* dialog = qobject_cast<QDialog*>(about)) {
      dialog->accept();
    }
  });
  commandOf(panel, MainCommand::kAbout)->trigger();  // returns once the box is closed

  selectHub(panel, panel.context().library.text(text::kRunning));
  trigger(panel, MainCommand::kStatus);
  trigger(panel, MainCommand::kAccounts);
  QTimer::singleShot(kSettleTime * 3, [&panel, folder] { takeHubWindows(panel, folder); });
}

}  // namespace

QString ScreenshotMode::folder() {
  return qEnvironmentVariable(kVariable);
}

void ScreenshotMode::start(Panel& panel, const QString& folder) {
  QTimer::singleShot(kSettleTime, [&panel, folder] {
    save(panel.mainWindow()->window(), folder, QStringLiteral("main.png"));
    takeAboutAndStatus(panel, folder);
  });
}

}  // namespace korvane::panel
