#pragma once

#include <QString>
#include <optional>
#include <string>

#include "panel/logic/FilterEditor.h"
#include "panel/windows/HubListWindow.h"

namespace korvane::panel {

/// The filter window of one hub (dialog 140): its rules in the order the hub applies them, and
/// the commands that add, edit (rule dialog 150), move and delete them through the shared
/// FilterEditor. Every operation reads the filter file afresh, changes it, saves it and tells
/// the hub.
class FilterWindow : public HubListWindow {
  Q_OBJECT

 public:
  /// The window of hub `hubNumber` named `hubName` on `port`, whose filter file lies in
  /// `iniDirectory`.
  FilterWindow(const ResourceLibrary& library, std::string iniDirectory, int hubNumber,
               const QString& hubName, int port);

 private:
  void selectionChanged() override;
  void refill(const QString& keep);
  std::optional<FilterModel> openModel();
  void editRule(bool existing);
  void change(bool (FilterEditor::*operation)(std::string_view, std::string*));

  std::string iniDirectory_;
};

}  // namespace korvane::panel
