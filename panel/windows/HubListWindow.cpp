#include "panel/windows/HubListWindow.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "panel/logic/EditWindowText.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/PanelSettings.h"

namespace korvane::panel {

HubListWindow::HubListWindow(const ResourceLibrary& library, int hubNumber, const QString& hubName,
                             int port, const Layout& layout)
    : library_(library), hubNumber_(hubNumber), placementName_(layout.placementName) {
  std::unique_ptr<QWidget> loaded = library_.dialog(layout.dialogId);
  window_.reset(qobject_cast<QMainWindow*>(loaded.get()));
  if (window_ == nullptr) {
    return;
  }
  loaded.release();
  window_->setWindowIcon(library_.icon(layout.iconId));
  window_->setWindowTitle(hubName + library_.text(layout.titleId) +
                          QStringLiteral("  (PortNo : %1)").arg(port));
  if (auto* number = ResourceLibrary::control<QLabel>(window_.get(), 1005)) {
    number->setText(QStringLiteral("%1").arg(hubNumber, 4, 10, QLatin1Char('0')));
  }
  list_ = ResourceLibrary::control<QTreeWidget>(window_.get(), 1000);
  if (list_ == nullptr) {
    return;
  }
  QStringList headers;
  for (int id : layout.columnHeaders) {
    headers << library_.text(id);
  }
  list_->setHeaderLabels(headers);
  for (std::size_t i = 0; i < layout.columnWidths.size(); ++i) {
    list_->setColumnWidth(static_cast<int>(i), layout.columnWidths[i]);
  }
  sortable_ = new SortableList(list_, QString::fromLatin1(layout.sortName));
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
  // The context menu is the menu bar's first menu, as it is grey or checked for the selection.
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QList<QAction*> menus = window_->menuBar()->actions();
    if (!menus.isEmpty() && menus.first()->menu() != nullptr) {
      menus.first()->menu()->popup(list_->viewport()->mapToGlobal(at));
    }
  });
  if (auto* status = ResourceLibrary::control<QStatusBar>(window_.get(), 99999)) {
    status->showMessage(QString());
  }
  window_->installEventFilter(this);
  PanelSettings::restorePlacement(*window_, QString::fromLatin1(placementName_));
}

HubListWindow::~HubListWindow() {
  if (window_ != nullptr) {
    window_->removeEventFilter(this);
  }
}

QAction* HubListWindow::command(int id) const {
  return window_ == nullptr ? nullptr : ResourceLibrary::control<QAction>(window_.get(), id);
}

void HubListWindow::show() {
  if (window_ != nullptr) {
    window_->show();
  }
}

void HubListWindow::bringToFront() {
  if (window_ == nullptr) {
    return;
  }
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HubListWindow::close() {
  if (window_ != nullptr) {
    window_->close();
  }
}

void HubListWindow::hubDeleted() {
  showText(text::kHubDeleted);
  close();
}

QString HubListWindow::selectedName() const {
  const QList<QTreeWidgetItem*> selected =
      list_ == nullptr ? QList<QTreeWidgetItem*>() : list_->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text(0);
}

void HubListWindow::finishFill(const QString& name) {
  sortable_->applyStoredSort();
  for (int i = 0; i < list_->topLevelItemCount() && !name.isEmpty(); ++i) {
    if (list_->topLevelItem(i)->text(0) == name) {
      list_->setCurrentItem(list_->topLevelItem(i));
      break;
    }
  }
  selectionChanged();
}

void HubListWindow::setStatusText(const QString& text) {
  if (auto* status = ResourceLibrary::control<QStatusBar>(window_.get(), 99999)) {
    status->showMessage(text);
  }
}

void HubListWindow::onCommand(int id, std::function<void()> handler) {
  if (QAction* action = command(id)) {
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
  }
}

void HubListWindow::showText(int id, std::optional<int> number) {
  MessageBoxView(library_, window_.get()).showMessage(id, number);
}

bool HubListWindow::confirmText(const QString& text) {
  return panelMessageBox(window_.get(), QMessageBox::Question, text,
                         QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void HubListWindow::showFailure(const std::string& reason) {
  MessageBoxView(library_, window_.get()).showFailure(reason);
}

bool HubListWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_.get() && event->type() == QEvent::Close && !closed_) {
    closed_ = true;
    PanelSettings::savePlacement(*window_, QString::fromLatin1(placementName_));
    if (onClosed) {
      // The owner may destroy this object, so it hears of the close once the event is done.
      QMetaObject::invokeMethod(
          this, [this] { onClosed(); }, Qt::QueuedConnection);
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace korvane::panel
