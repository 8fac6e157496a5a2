#pragma once

#include <QMainWindow>
#include <QObject>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "panel/logic/HubActions.h"
#include "panel/logic/HubList.h"
#include "panel/logic/HubMenuState.h"
#include "panel/logic/PanelStartup.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/PanelContext.h"
#include "panel/windows/SortableList.h"

namespace korvane::panel {

/// The panel's main window (dialog 101 with its menu bar): the list of hubs with their state,
/// the commands that create, start, stop and delete hubs, and the doors to the hub windows,
/// help, the About box and the language switch. It only draws and forwards: the decisions are
/// HubActions', HubList's and HubMenuState's.
class MainWindow : public QObject {
  Q_OBJECT

 public:
  /// The main window built from dialog 101 of the context's library, filled and placed as the
  /// user left it; null when the library has no usable dialog 101.
  static std::unique_ptr<MainWindow> create(PanelContext& context);
  ~MainWindow() override;

  /// The window itself.
  QMainWindow* window() const { return window_.get(); }

  /// Lets command `kind` open its window for a hub; a command without opener stays grey.
  void setOpener(HubWindowKind kind, HubWindowOpener opener);
  /// Called with the language that the user chose from the menu.
  void setLanguageHandler(std::function<void(Language)> handler);

  /// Stores the window's placement, as closing it does.
  void savePlacement() const;

  /// Reads the hubs again and fills the list.
  void fillList();
  /// The number of the selected hub; none when no row is selected.
  std::optional<int> selectedHubNumber() const { return selectedHub(); }
  /// Shows the DNS update's last result after the hub count in the status bar, as the window's
  /// timer does every 5 s.
  void refreshStatusText();

 signals:
  /// The user closed the window.
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  MainWindow(PanelContext& context, std::unique_ptr<QMainWindow> window);
  void setUpList();
  void connectCommands();
  void command(MainCommand command);
  void refreshList();
  void updateMenuState();
  void showContextMenu(const QPoint& position);
  void setRowState(QTreeWidgetItem* row, const HubRow& hub, int firstColumn);
  std::optional<int> selectedHub() const;
  HubSelection selection() const;
  void openHubWindow(HubWindowKind kind);
  /// Opens the settings dialog of hub `hubNumber` over this window, then fills the list again.
  void editSettings(int hubNumber, bool newHub);
  void startSelectedHub();
  void afterStop(int hubNumber);
  void tellWindow(HubWindowKind kind, int hubNumber, void (HubWindow::*what)());
  QAction* action(MainCommand command) const;

  PanelContext& context_;
  std::unique_ptr<QMainWindow> window_;
  QTreeWidget* list_ = nullptr;
  SortableList* sortable_ = nullptr;
  QTimer statusTimer_;
  MessageBoxView messages_;
  HubActions actions_;
  std::map<HubWindowKind, HubWindowOpener> openers_;
  std::function<void(Language)> languageHandler_;
};

}  // namespace korvane::panel
