#include "panel/windows/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <algorithm>
#include <array>
#include <chrono>

#include "common/DnsLog.h"
#include "panel/logic/HubList.h"
#include "panel/logic/HubQueryClient.h"
#include "panel/logic/MainStatusText.h"
#include "panel/logic/MainWindowText.h"
#include "panel/windows/AboutBox.h"
#include "panel/windows/HelpViewer.h"
#include "panel/windows/HubSettingsDialog.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/PanelSettings.h"
#include "panel/windows/RegistrationWizard.h"

namespace korvane::panel {
namespace {

/// The number of the main window's dialog and of its icon, list and status bar controls.
constexpr int kMainDialog = 101;
constexpr int kMainIcon = 104;
constexpr int kHubListControl = 1000;
constexpr int kStatusBarControl = 99999;
/// The hub state images in the order hubStateImage counts them.
constexpr std::array<int, 4> kHubStateIcons = {105, 106, 122, 123};
/// Widths of the hub list's columns, left to right: the name wide, the others for short values.
constexpr std::array<int, kHubListColumns> kColumnWidths = {200, 100, 80, 80, 80, 80};
/// The status bar shows the DNS update's last result, read again this often.
constexpr std::chrono::milliseconds kStatusRefreshPeriod{5000};
/// The first of the columns that a refresh writes again: state, authentication, DHCP.
constexpr int kFirstStateColumn = 3;
/// Item data of a row: whether its hub runs, as the list last showed it.
constexpr int kRunningRole = Qt::UserRole + 1;

const QString kListName = QStringLiteral("HubList");
const QString kWindowName = QStringLiteral("Ostrel_ListDlg");

/// The commands that need a selected hub, with the window kind each opens (if any).
constexpr std::array<MainCommand, 7> kHubCommands = {
    MainCommand::kStart,    MainCommand::kStop,   MainCommand::kDelete, MainCommand::kSettings,
    MainCommand::kAccounts, MainCommand::kStatus, MainCommand::kFilter};

std::optional<HubWindowKind> windowKindOf(MainCommand command) {
  switch (command) {
    case MainCommand::kStatus:
      return HubWindowKind::kStatus;
    case MainCommand::kAccounts:
      return HubWindowKind::kAccounts;
    case MainCommand::kFilter:
      return HubWindowKind::kFilter;
    default:
      return std::nullopt;
  }
}

QString fromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

std::unique_ptr<MainWindow> MainWindow::create(PanelContext& context) {
  std::unique_ptr<QWidget> dialog = context.library.dialog(kMainDialog);
  auto* mainWindow = qobject_cast<QMainWindow*>(dialog.get());
  if (mainWindow == nullptr ||
      ResourceLibrary::control<QTreeWidget>(mainWindow, kHubListControl) == nullptr) {
    return nullptr;
  }
  dialog.release();
  return std::unique_ptr<MainWindow>(
      new MainWindow(context, std::unique_ptr<QMainWindow>(mainWindow)));
}

MainWindow::MainWindow(PanelContext& context, std::unique_ptr<QMainWindow> window)
    : context_(context),
      window_(std::move(window)),
      messages_(context.library, window_.get()),
      actions_(
          context.config, context.models,
          [](int hubNumber) { return HubQueryClient().queryState(hubNumber); }, messages_) {
  window_->setWindowIcon(context_.library.icon(kMainIcon));
  window_->installEventFilter(this);
  window_->statusBar()->setObjectName(ResourceLibrary::controlName(kStatusBarControl));
  setUpList();
  connectCommands();
  connect(&statusTimer_, &QTimer::timeout, this, &MainWindow::refreshStatusText);
  statusTimer_.start(kStatusRefreshPeriod);
  fillList();
  PanelSettings::restorePlacement(*window_, kWindowName);
}

MainWindow::~MainWindow() = default;

void MainWindow::setUpList() {
  list_ = ResourceLibrary::control<QTreeWidget>(window_.get(), kHubListControl);
  list_->setColumnCount(static_cast<int>(kHubListColumns));
  QStringList headers;
  for (const int id : text::kHubColumnHeaders) {
    headers << context_.library.text(id);
  }
  list_->setHeaderLabels(headers);
  for (int column = 0; column < static_cast<int>(kHubListColumns); ++column) {
    const Qt::Alignment alignment = column == 0 ? Qt::AlignLeft : Qt::AlignRight;
    list_->headerItem()->setTextAlignment(column, alignment | Qt::AlignVCenter);
    // A header longer in some language than its column's width widens the column.
    list_->setColumnWidth(
        column, std::max(kColumnWidths[column], list_->header()->sectionSizeHint(column)));
  }
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  sortable_ = new SortableList(list_, kListName);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &MainWindow::updateMenuState);
  connect(list_, &QWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
}

QAction* MainWindow::action(MainCommand command) const {
  return window_->findChild<QAction*>(ResourceLibrary::controlName(static_cast<int>(command)));
}

void MainWindow::connectCommands() {
  for (const MainCommand command :
       {MainCommand::kNewHub, MainCommand::kStart, MainCommand::kStop, MainCommand::kDelete,
        MainCommand::kSettings, MainCommand::kAccounts, MainCommand::kStatus, MainCommand::kFilter,
        MainCommand::kRegistration, MainCommand::kHelp, MainCommand::kAbout, MainCommand::kEnglish,
        MainCommand::kJapanese}) {
    QAction* found = action(command);
    if (found == nullptr) {
      // Reported like a missing control, so that a pack without the command fails its tests.
      ResourceLibrary::control<QAction>(window_.get(), static_cast<int>(command));
      continue;
    }
    connect(found, &QAction::triggered, this, [this, command] { this->command(command); });
  }
  updateMenuState();
}

void MainWindow::setOpener(HubWindowKind kind, HubWindowOpener opener) {
  openers_[kind] = std::move(opener);
  updateMenuState();
}

void MainWindow::setLanguageHandler(std::function<void(Language)> handler) {
  languageHandler_ = std::move(handler);
}

void MainWindow::savePlacement() const {
  PanelSettings::savePlacement(*window_, kWindowName);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_.get() && event->type() == QEvent::Close) {
    savePlacement();
    emit closed();
  }
  return QObject::eventFilter(watched, event);
}

void MainWindow::fillList() {
  QStatusBar* status = window_->statusBar();
  status->showMessage(context_.library.text(text::kLoading));
  list_->clear();
  std::string err;
  const std::optional<common::ManagerConfigSnapshot> config = context_.config.snapshot(&err);
  std::vector<HubRow> hubs;
  if (config) {
    hubs = readHubRows(*config, context_.programDirectory + "ini/", context_.models);
  }
  for (const HubRow& hub : hubs) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, fromUtf8(hub.name));
    for (int column = 1; column < static_cast<int>(kHubListColumns); ++column) {
      row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    setRowState(row, hub, 1);
  }
  const QString label = context_.library.text(text::kHubCountLabel);
  status->showMessage(fromUtf8(hubCountText(label.toStdString(), static_cast<int>(hubs.size()))));
  refreshStatusText();
  sortable_->applyStoredSort();
  updateMenuState();
  if (!config) {
    messages_.showFailure(err);
  }
}

void MainWindow::setRowState(QTreeWidgetItem* row, const HubRow& hub, int firstColumn) {
  const auto textOf = [this](int id) { return context_.library.text(id).toStdString(); };
  const auto texts = hubRowTexts(hub, textOf);
  for (int column = firstColumn; column < static_cast<int>(kHubListColumns); ++column) {
    row->setText(column, fromUtf8(texts[column]));
  }
  row->setIcon(
      0, context_.library.icon(kHubStateIcons[hubStateImage(hub.running, hub.authentication)]));
  row->setData(0, kRunningRole, hub.running);
}

void MainWindow::refreshList() {
  std::string err;
  const std::optional<common::ManagerConfigSnapshot> config = context_.config.snapshot(&err);
  if (!config) {
    messages_.showFailure(err);
    return;
  }
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(i);
    const int hub = hubNumberOfText(row->text(kHubNumberColumn).toStdString());
    // Only the state columns change with a start or stop; names and ports stay as filled.
    setRowState(row, readHubRow(*config, hub, context_.programDirectory + "ini/", context_.models),
                kFirstStateColumn);
  }
  sortable_->applyStoredSort();
  updateMenuState();
}

void MainWindow::refreshStatusText() {
  QStatusBar* status = window_->statusBar();
  const std::string current = status->currentMessage().toStdString();
  const std::string log = common::readDnsLog(context_.programDirectory + "log/dnsupdate.log");
  status->showMessage(fromUtf8(withDnsUpdate(current, log)));
}

std::optional<int> MainWindow::selectedHub() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) {
    return std::nullopt;
  }
  return hubNumberOfText(selected.front()->text(kHubNumberColumn).toStdString());
}

HubSelection MainWindow::selection() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) {
    return HubSelection::kNone;
  }
  return selected.front()->data(0, kRunningRole).toBool() ? HubSelection::kRunning
                                                          : HubSelection::kStopped;
}

void MainWindow::updateMenuState() {
  const HubCommandStates states = hubCommandStates(selection());
  const std::map<MainCommand, bool> on = {
      {MainCommand::kStart, states.start},   {MainCommand::kStop, states.stop},
      {MainCommand::kDelete, states.remove}, {MainCommand::kSettings, states.settings},
      {MainCommand::kFilter, states.filter}, {MainCommand::kAccounts, states.accounts},
      {MainCommand::kStatus, states.status}};
  for (const auto& [command, enabled] : on) {
    QAction* found = action(command);
    if (found == nullptr) {
      continue;
    }
    // A kind of hub window that no one can open stays grey.
    const std::optional<HubWindowKind> kind = windowKindOf(command);
    found->setEnabled(enabled && (!kind || openers_.contains(*kind)));
  }
}

void MainWindow::showContextMenu(const QPoint& position) {
  window_->activateWindow();
  const QList<QAction*> menus = window_->menuBar()->actions();
  const int index = contextSubMenu(selection());
  if (index < menus.size() && menus[index]->menu() != nullptr) {
    menus[index]->menu()->exec(list_->viewport()->mapToGlobal(position));
  }
}

void MainWindow::command(MainCommand command) {
  switch (command) {
    case MainCommand::kNewHub:
      if (const int hub =
              actions_.newHub(list_->topLevelItemCount(),
                              context_.library.text(text::kNewHubNameStem).toStdString());
          hub != 0) {
        editSettings(hub, true);
      }
      return;
    case MainCommand::kStart:
      startSelectedHub();
      return;
    case MainCommand::kStop:
      if (const std::optional<int> hub = selectedHub(); hub && actions_.stop(*hub)) {
        afterStop(*hub);
      }
      return;
    case MainCommand::kDelete:
      if (const std::optional<int> hub = selectedHub(); hub && actions_.remove(*hub)) {
        tellWindow(HubWindowKind::kStatus, *hub, &HubWindow::hubDeleted);
        tellWindow(HubWindowKind::kAccounts, *hub, &HubWindow::hubDeleted);
        fillList();
      }
      return;
    case MainCommand::kSettings:
      if (const std::optional<int> hub = selectedHub()) {
        editSettings(*hub, false);
      }
      return;
    case MainCommand::kRegistration:
      RegistrationWizard::open(context_.library, context_.config, window_.get());
      return;
    case MainCommand::kAccounts:
    case MainCommand::kStatus:
    case MainCommand::kFilter:
      openHubWindow(*windowKindOf(command));
      return;
    case MainCommand::kHelp:
      HelpViewer::show(context_.programDirectory);
      return;
    case MainCommand::kAbout:
      AboutBox::show(context_.library, window_.get());
      return;
    case MainCommand::kEnglish:
    case MainCommand::kJapanese:
      if (languageHandler_) {
        languageHandler_(command == MainCommand::kJapanese ? Language::kJapanese
                                                           : Language::kEnglish);
      }
      return;
  }
}

void MainWindow::editSettings(int hubNumber, bool newHub) {
  // Cancel of a new hub deletes it again; either way the list shows the file as it is now.
  HubSettingsDialog dialog(context_.library, context_.config, context_.models, hubNumber, newHub,
                           window_.get());
  (void)dialog.exec();
  fillList();
}

void MainWindow::startSelectedHub() {
  const std::optional<int> hub = selectedHub();
  if (!hub || !actions_.start(*hub)) {
    return;
  }
  refreshList();
  tellWindow(HubWindowKind::kStatus, *hub, &HubWindow::hubStarted);
  // The hub needs a moment to find out whether its port is free; the window stays usable.
  QTimer::singleShot(kPortCheckDelay, this, [this, hubNumber = *hub] {
    if (actions_.checkPortAfterStart(hubNumber)) {
      afterStop(hubNumber);
    }
  });
}

void MainWindow::afterStop(int hubNumber) {
  refreshList();
  tellWindow(HubWindowKind::kStatus, hubNumber, &HubWindow::hubStopped);
}

void MainWindow::tellWindow(HubWindowKind kind, int hubNumber, void (HubWindow::*what)()) {
  if (HubWindow* window = context_.registry.find(kind, hubNumber)) {
    (window->*what)();
  }
}

void MainWindow::openHubWindow(HubWindowKind kind) {
  const std::optional<int> hub = selectedHub();
  if (!hub || context_.registry.raise(kind, *hub)) {
    return;
  }
  if (const auto opener = openers_.find(kind); opener != openers_.end()) {
    opener->second(*hub);
  }
}

}  // namespace korvane::panel
