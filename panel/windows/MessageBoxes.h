#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "panel/logic/MessageView.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The caption of the panel's message boxes: the product's own name, the same in every language.
/// A few boxes name their own ("Importing", "Exporting", the wizard's question).
inline constexpr const char* kPanelCaption = "Korvane Ostrel";

/// Shows `text` in a message box captioned `caption` over `parent`; the button the user chose.
QMessageBox::StandardButton panelMessageBox(
    QWidget* parent, QMessageBox::Icon icon, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
    const QString& caption = QString::fromLatin1(kPanelCaption));

/// The message boxes that the panel's logic asks for (the main window's, the settings dialogs'),
/// with the library's strings, over one window (or none).
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
