#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "panel/windows/HubWindow.h"
#include "panel/windows/ResourceLibrary.h"
#include "panel/windows/SortableList.h"

namespace korvane::panel {

/// What a list window of one hub (its accounts, its filter rules) looks like and does apart
/// from its commands: a main window from the library with a menu bar whose first menu is also
/// the list's context menu, the list with its columns and stored sort, the hub number in
/// control 1005, the title "hub name" + string + "  (PortNo : %d)", the status bar, and the
/// placement restored at the start and saved when the window closes.
class HubListWindow : public QObject, public HubWindow {
  Q_OBJECT

 public:
  /// The window is closed (its placement saved); the owner may now destroy the object.
  std::function<void()> onClosed;

  ~HubListWindow() override;

  int hubNumber() const { return hubNumber_; }
  /// The window; null when the library has no such dialog.
  QMainWindow* window() const { return window_.get(); }
  /// The window's menu command `id`; null when the library lacks it.
  QAction* command(int id) const;
  /// Shows the window.
  void show();
  /// Brings the window to the front, restored when minimised.
  void bringToFront() override;
  /// Closes the window as the user would.
  void close();

  /// The hub was deleted: says so (string 14) and closes the window.
  void hubDeleted() override;
  /// The hub was stopped or started: these windows show nothing of that.
  void hubStopped() override {}
  void hubStarted() override {}

 protected:
  /// Loads dialog `dialogId` for hub `hubNumber`; `columns` are the header string numbers and
  /// widths, `titleId` the string after the hub name; the sort and placement names as stored.
  struct Layout {
    int dialogId;
    int titleId;
    int iconId;
    std::span<const int> columnHeaders;
    std::span<const int> columnWidths;
    const char* sortName;
    const char* placementName;
  };
  HubListWindow(const ResourceLibrary& library, int hubNumber, const QString& hubName, int port,
                const Layout& layout);

  const ResourceLibrary& library() const { return library_; }
  QTreeWidget* list() const { return list_; }
  /// The text of column 0 of the selected row; empty when none is selected.
  QString selectedName() const;
  /// Applies the stored sort and selects the row named `name` again, when there is one.
  void finishFill(const QString& name);
  /// Shows `text` in the status bar.
  void setStatusText(const QString& text);
  /// Calls `handler` when command `id` is chosen.
  void onCommand(int id, std::function<void()> handler);
  /// The selection changed: the commands' states follow it.
  virtual void selectionChanged() = 0;
  /// Shows string `id`, filled with `number` when given, captioned "Korvane Ostrel".
  void showText(int id, std::optional<int> number = std::nullopt);
  /// Asks string `id` with OK and Cancel; true for OK.
  bool confirmText(const QString& text);
  /// Shows why a file could not be written.
  void showFailure(const std::string& reason);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const ResourceLibrary& library_;
  int hubNumber_;
  const char* placementName_;
  std::unique_ptr<QMainWindow> window_;
  QTreeWidget* list_ = nullptr;
  SortableList* sortable_ = nullptr;
  bool closed_ = false;
};

}  // namespace korvane::panel
