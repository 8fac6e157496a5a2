#pragma once

#include <QIcon>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "panel/logic/ConnectionRows.h"
#include "panel/logic/HubLogReader.h"
#include "panel/logic/HubQueryClient.h"
#include "panel/logic/LogPaneText.h"
#include "panel/logic/NotificationServer.h"
#include "panel/logic/PendingRefresh.h"
#include "panel/logic/StatusWindowRules.h"
#include "panel/windows/HubWindow.h"
#include "platform/Clock.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;
class QTreeWidget;

namespace korvane::panel {

class ResourceLibrary;
class SortableList;

/// The status window of one hub (dialog 108): the hub's connections, fetched again whenever the
/// hub signals a change on the window's notification pipe, and below a movable bar the hub's log
/// as it grows.
class StatusWindow : public QWidget, public HubWindow {
  Q_OBJECT

 public:
  /// How soon after opening the window first fetches the list: after the window is shown.
  static constexpr std::chrono::milliseconds kFirstRefreshDelay{100};
  /// How often the log pane takes the log's new text.
  static constexpr std::chrono::milliseconds kLogTickPeriod{500};

  /// The window of hub `hubNumber` built from `library`'s dialog 108, running (its timers and
  /// notification pipe started) but not shown yet; null when the library lacks the dialog or
  /// one of its controls. `library` must outlive the window.
  static std::unique_ptr<StatusWindow> create(
      const ResourceLibrary& library, int hubNumber,
      const platform::Clock& clock = platform::systemClock());

  ~StatusWindow() override;

  int hubNumber() const { return hubNumber_; }
  /// The id that names the window's notification pipe.
  std::uint32_t windowId() const { return windowId_; }

  /// The hub was stopped: its connections are gone.
  void hubStopped() override;
  /// The hub was started: its list is fetched shortly.
  void hubStarted() override;
  /// The hub was deleted: the user is told; the window stays open.
  void hubDeleted() override;
  void bringToFront() override;

 signals:
  /// The user closed the window: its pipe and timers are stopped, and it may be deleted.
  void closed(int hubNumber);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  StatusWindow(const ResourceLibrary& library, int hubNumber, const platform::Clock& clock);
  bool adoptForm(std::unique_ptr<QWidget> form);
  void start();
  void stop();
  void setUpList();
  /// Asks the hub for its connection list on a thread of its own, so that a hub slow to answer
  /// (up to the query's five seconds) never holds the window; a refresh asked for meanwhile
  /// follows once the answer is shown.
  void refreshList();
  /// Shows the list asked for while `generation` was current; an answer that the hub's stop or
  /// the window's close overtook is dropped, and a hub that did not answer leaves the list.
  void listFetched(std::uint64_t generation,
                   const std::optional<std::vector<common::PortListEntry>>& entries);
  void showRows(const std::vector<ConnectionRow>& rows);
  void hubSignalled();
  void pendingTimerFired();
  void logTick();
  void placeSplitter(int top);

  const ResourceLibrary& library_;
  const int hubNumber_;
  const platform::Clock& clock_;
  const std::uint32_t windowId_;
  QWidget* form_ = nullptr;
  QTreeWidget* list_ = nullptr;
  SortableList* sortableList_ = nullptr;
  QPlainTextEdit* logPane_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QLabel* hubLabel_ = nullptr;
  QAction* refreshAction_ = nullptr;
  std::vector<QIcon> icons_;
  int splitterTop_ = kSplitterStartTop;  // where the user left the bar, from the window's top
  QTimer logTimer_;
  QTimer pendingTimer_;
  HubQueryClient query_;
  PendingRefresh pendingRefresh_;
  HubLogReader logReader_;
  LogPaneText logText_;
  std::unique_ptr<NotificationServer> notifications_;
  std::thread listQuery_;
  std::uint64_t listGeneration_ = 0;
  bool refreshAgain_ = false;
};

}  // namespace korvane::panel
