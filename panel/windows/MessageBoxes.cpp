#include "panel/windows/MessageBoxes.h"

#include "panel/logic/TextFormat.h"

namespace korvane::panel {
QMessageBox::StandardButton panelMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton,
                                            const QString& caption) {
  QMessageBox box(icon, caption, text, buttons, parent);
  if (defaultButton != QMessageBox::NoButton) {
    box.setDefaultButton(defaultButton);
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBoxView::showMessage(int id, std::optional<int> argument) {
  QString message = library_.text(id);
  if (argument) {
    message = QString::fromStdString(formatWithNumber(message.toStdString(), *argument));
  }
  panelMessageBox(parent_, QMessageBox::Warning, message);
}

void MessageBoxView::showFailure(const std::string& reason) {
  panelMessageBox(parent_, QMessageBox::Critical, QString::fromStdString(reason));
}

bool MessageBoxView::confirm(int id) {
  return panelMessageBox(parent_, QMessageBox::Question, library_.text(id),
                         QMessageBox::Ok | QMessageBox::Cancel,
                         QMessageBox::Cancel) == QMessageBox::Ok;
}

bool MessageBoxView::askYesNo(int id) {
  return panelMessageBox(parent_, QMessageBox::Question, library_.text(id),
                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace korvane::panel
