#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "panel/logic/MessageView.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The message boxes that the settings dialogs' logic asks for, captioned "Korvane Ostrel" and
/// shown over `parent` with the library's strings.
class SettingsMessageView : public MessageView {
 public:
  SettingsMessageView(const ResourceLibrary& library, QWidget* parent)
      : library_(library), parent_(parent) {}

  void showMessage(int id, std::optional<int> argument = std::nullopt) override;
  void showFailure(const std::string& reason) override;
  bool confirm(int id) override;
  bool askYesNo(int id) override;

 private:
  const ResourceLibrary& library_;
  QWidget* parent_;
};

}  // namespace korvane::panel
