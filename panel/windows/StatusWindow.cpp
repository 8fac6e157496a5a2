#include "panel/windows/StatusWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <thread>

#include "common/ManagerConfig.h"
#include "common/ProgramPaths.h"
#include "panel/logic/StatusWindowRules.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/PanelSettings.h"
#include "panel/windows/ResourceLibrary.h"
#include "panel/windows/SortableList.h"
#include "platform/Process.h"

namespace korvane::panel {
namespace {

constexpr int kStatusDialog = 108;
constexpr int kListControl = 1000;
constexpr int kHubNumberControl = 1005;
constexpr int kLogPaneControl = 1051;
constexpr int kRefreshCommand = 40008;
constexpr int kStatusBarControl = 99999;
// The names under which the list's sort and the window's placement are kept.
const QString kListName = QStringLiteral("StatusList");
const QString kPlacementName = QStringLiteral("Ostrel_StatusDlg");

// The ids of this process's status windows; every window lives on the GUI thread.
WindowIdSource& windowIds() {
  static WindowIdSource ids(static_cast<std::uint32_t>(platform::currentProcessId()));
  return ids;
}

Qt::Alignment alignment(const ConnectionColumn& column) {
  return Qt::AlignVCenter | (column.rightAligned ? Qt::AlignRight : Qt::AlignLeft);
}

}  // namespace

std::unique_ptr<StatusWindow> StatusWindow::create(const ResourceLibrary& library, int hubNumber,
                                                   const platform::Clock& clock) {
  std::unique_ptr<QWidget> form = library.dialog(kStatusDialog);
  if (!form) {
    return nullptr;
  }
  std::unique_ptr<StatusWindow> window(new StatusWindow(library, hubNumber, clock));
  if (!window->adoptForm(std::move(form))) {
    return nullptr;
  }
  window->start();
  return window;
}

StatusWindow::StatusWindow(const ResourceLibrary& library, int hubNumber,
                           const platform::Clock& clock)
    : library_(library),
      hubNumber_(hubNumber),
      clock_(clock),
      windowId_(windowIds().next()),
      query_(clock),
      pendingRefresh_(clock),
      logReader_(common::logDirectory(), hubNumber) {}

StatusWindow::~StatusWindow() {
  stop();
}

// Takes the dialog's controls; false when one is missing (the library then reported it).
bool StatusWindow::adoptForm(std::unique_ptr<QWidget> form) {
  list_ = ResourceLibrary::control<QTreeWidget>(form.get(), kListControl);
  logPane_ = ResourceLibrary::control<QPlainTextEdit>(form.get(), kLogPaneControl);
  statusBar_ = ResourceLibrary::control<QStatusBar>(form.get(), kStatusBarControl);
  hubLabel_ = ResourceLibrary::control<QLabel>(form.get(), kHubNumberControl);
  refreshAction_ = ResourceLibrary::control<QAction>(form.get(), kRefreshCommand);
  splitter_ = form->findChild<QSplitter*>();
  if (!list_ || !logPane_ || !statusBar_ || !hubLabel_ || !refreshAction_ || !splitter_) {
    return false;
  }
  resize(form->size());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  form_ = form.release();
  layout->addWidget(form_);
  return true;
}

void StatusWindow::start() {
  hubLabel_->setText(QString::asprintf("%04d", hubNumber_));
  // Only what the hub writes from now on is shown.
  logReader_.skipExisting();

  const common::ManagerConfig config(common::managerConfigPath(), clock_);
  setWindowTitle(QString::fromStdString(statusWindowTitle(
      config.readName(hubNumber_), library_.text(text::kStatusTitlePart).toStdString(),
      config.readPort(hubNumber_))));
  setWindowIcon(library_.icon(text::kStatusWindowIcon));
  setUpList();
  statusBar_->clearMessage();

  notifications_ = std::make_unique<NotificationServer>(
      windowId_,
      [this] {
        QMetaObject::invokeMethod(
            this, [this] { hubSignalled(); }, Qt::QueuedConnection);
      },
      clock_);
  notifications_->start();

  // The list keeps its height when the window is resized; the log pane takes the rest. The
  // bar's limits are ours alone, so the panes' own minimum sizes must not stop it earlier.
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  list_->setMinimumHeight(1);
  logPane_->setMinimumHeight(1);
  connect(splitter_, &QSplitter::splitterMoved, this, [this](int top, int) { placeSplitter(top); });

  connect(refreshAction_, &QAction::triggered, this, [this] { refreshList(); });
  pendingTimer_.setSingleShot(true);
  pendingTimer_.setTimerType(Qt::PreciseTimer);
  connect(&pendingTimer_, &QTimer::timeout, this, [this] { pendingTimerFired(); });
  connect(&logTimer_, &QTimer::timeout, this, [this] { logTick(); });
  logTimer_.start(kLogTickPeriod);
  QTimer::singleShot(kFirstRefreshDelay, this, [this] { refreshList(); });
  PanelSettings::restorePlacement(*this, kPlacementName);
}

void StatusWindow::setUpList() {
  QStringList headers;
  for (const ConnectionColumn& column : kConnectionColumns) {
    headers.push_back(library_.text(column.headerString));
  }
  list_->setHeaderLabels(headers);
  for (std::size_t i = 0; i < kConnectionColumnCount; ++i) {
    const ConnectionColumn& column = kConnectionColumns[i];
    list_->headerItem()->setTextAlignment(static_cast<int>(i), alignment(column));
    list_->setColumnWidth(static_cast<int>(i), column.width);
  }
  sortableList_ = new SortableList(list_, kListName);
  for (int icon : kConnectionIcons) {
    icons_.push_back(library_.icon(icon));
  }
}

void StatusWindow::stop() {
  logTimer_.stop();
  pendingTimer_.stop();
  if (notifications_) {
    notifications_->stop();
  }
  logReader_.close();
  // The answer of a query still running is dropped; a hub that does not answer holds the close
  // for the rest of the query's five seconds.
  ++listGeneration_;
  refreshAgain_ = false;
  if (listQuery_.joinable()) {
    listQuery_.join();
  }
}

void StatusWindow::refreshList() {
  if (listQuery_.joinable()) {
    refreshAgain_ = true;
    return;
  }
  listQuery_ = std::thread([this, generation = listGeneration_] {
    std::optional<std::vector<common::PortListEntry>> entries =
        query_.queryConnections(hubNumber_, windowId_);
    QMetaObject::invokeMethod(
        this,
        [this, generation, entries = std::move(entries)] {
          if (listQuery_.joinable()) {
            listQuery_.join();
          }
          listFetched(generation, entries);
        },
        Qt::QueuedConnection);
  });
}

void StatusWindow::listFetched(std::uint64_t generation,
                               const std::optional<std::vector<common::PortListEntry>>& entries) {
  // A hub that did not answer leaves the list as it was.
  if (generation == listGeneration_ && entries) {
    const common::ManagerConfig config(common::managerConfigPath(), clock_);
    const std::vector<ConnectionRow> rows = connectionRows(
        *entries, config.readDomainSplitter(), library_.text(text::kNoAccount).toStdString());
    showRows(rows);
    statusBar_->showMessage(QString::fromStdString(countText(
        library_.text(text::kConnectionCountLabel).toStdString(), static_cast<int>(rows.size()))));
  }
  if (refreshAgain_) {
    refreshAgain_ = false;
    refreshList();
  }
}

void StatusWindow::showRows(const std::vector<ConnectionRow>& rows) {
  list_->clear();
  for (const ConnectionRow& row : rows) {
    auto item = std::make_unique<QTreeWidgetItem>();
    for (std::size_t c = 0; c < kConnectionColumnCount; ++c) {
      item->setText(static_cast<int>(c), QString::fromStdString(row.columns[c]));
      item->setTextAlignment(static_cast<int>(c), alignment(kConnectionColumns[c]));
    }
    item->setIcon(0, icons_[static_cast<std::size_t>(row.image)]);
    list_->addTopLevelItem(item.release());
  }
  sortableList_->applyStoredSort();
}

void StatusWindow::hubSignalled() {
  if (pendingRefresh_.signal()) {
    pendingTimer_.start(pendingRefresh_.remaining());
  }
}

void StatusWindow::pendingTimerFired() {
  if (pendingRefresh_.due()) {
    refreshList();
    return;
  }
  // The timer may fire a little before the clock says the time is up: wait for the rest.
  if (pendingRefresh_.pending()) {
    pendingTimer_.start(std::max(pendingRefresh_.remaining(), std::chrono::milliseconds{1}));
  }
}

void StatusWindow::logTick() {
  // While the user drags in this window (selects log text, moves the bar), the pane holds still.
  if ((QApplication::mouseButtons() & Qt::LeftButton) && isActiveWindow()) {
    return;
  }
  if (!logText_.follow(logReader_)) {
    return;
  }
  logPane_->setPlainText(QString::fromStdU16String(logText_.text()));
  logPane_->verticalScrollBar()->setValue(logPane_->verticalScrollBar()->maximum());
}

void StatusWindow::placeSplitter(int top) {
  splitterTop_ = clampSplitterTop(top, height());
  const QList<int> sizes = splitter_->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  if (sizes.value(0) == splitterTop_ || total <= 0) {
    return;
  }
  splitter_->setSizes({splitterTop_, std::max(0, total - splitterTop_)});
}

void StatusWindow::hubStopped() {
  ++listGeneration_;
  refreshAgain_ = false;
  statusBar_->showMessage(library_.text(text::kHubStopped));
  list_->clear();
}

void StatusWindow::hubStarted() {
  hubSignalled();
}

void StatusWindow::hubDeleted() {
  panelMessageBox(this, QMessageBox::Information, library_.text(text::kHubDeleted));
  PanelSettings::savePlacement(*this, kPlacementName);
}

void StatusWindow::bringToFront() {
  if (isMinimized()) {
    showNormal();
  }
  raise();
  activateWindow();
}

void StatusWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeSplitter(splitterTop_);
}

void StatusWindow::closeEvent(QCloseEvent* event) {
  PanelSettings::savePlacement(*this, kPlacementName);
  stop();
  emit closed(hubNumber_);
  event->accept();
}

}  // namespace korvane::panel
