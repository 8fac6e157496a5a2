#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "panel/logic/MessageView.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// Shows `text` in a message box captioned "Korvane Ostrel", the caption of every message box of
/// the panel, over `parent`; the button the user chose.
QMessageBox::StandardButton panelMessageBox(
    QWidget* parent, QMessageBox::Icon icon, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

/// The message boxes that the panel's logic asks for, with the library's strings, over one
/// window (or none).
class MessageBoxView : public MessageView {
 public:
  MessageBoxView(const ResourceLibrary& library, QWidget* parent)
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
