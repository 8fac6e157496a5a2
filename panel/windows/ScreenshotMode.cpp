#include "panel/windows/ScreenshotMode.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>

#include "panel/logic/HubList.h"
#include "panel/logic/HubMenuState.h"
#include "panel/logic/MainWindowText.h"
#include "panel/windows/Panel.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

/// Time for the windows to lay out and for the status window to fetch its connections.
constexpr auto kSettleTime = 1500ms;
constexpr int kHubListControl = 1000;

QAction* commandOf(const Panel& panel, MainCommand command) {
  return panel.mainWindow()->window()->findChild<QAction*>(
      ResourceLibrary::controlName(static_cast<int>(command)));
}

void save(QWidget* widget, const QString& folder, const QString& name) {
  if (widget != nullptr) {
    widget->grab().save(folder + QLatin1Char('/') + name);
  }
}

// Selects the first hub that runs, so that its Status command is on.
void selectRunningHub(const Panel& panel, const QString& runningText) {
  auto* list = panel.mainWindow()->window()->findChild<QTreeWidget*>(
      ResourceLibrary::controlName(kHubListControl));
  for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(3) == runningText) {
      list->setCurrentItem(list->topLevelItem(i));
      return;
    }
  }
}

void takeStatus(Panel& panel, const QString& folder) {
  QWidget* main = panel.mainWindow()->window();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget != main && widget->isVisible() && qobject_cast<QDialog*>(widget) == nullptr) {
      save(widget, folder, QStringLiteral("status.png"));
    }
  }
  QApplication::quit();
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

  selectRunningHub(panel, panel.context().library.text(text::kRunning));
  if (QAction* status = commandOf(panel, MainCommand::kStatus); status && status->isEnabled()) {
    status->trigger();
  }
  QTimer::singleShot(kSettleTime * 3, [&panel, folder] { takeStatus(panel, folder); });
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
