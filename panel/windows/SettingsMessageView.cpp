#include "panel/windows/SettingsMessageView.h"

#include <QMessageBox>

namespace korvane::panel {
namespace {

/// The caption of every message box of the panel; the system's name is not translated.
const QString kCaption = QStringLiteral("Korvane Ostrel");

QMessageBox::StandardButton ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, kCaption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void SettingsMessageView::showMessage(int id, std::optional<int> argument) {
  QString text = library_.text(id);
  if (argument) {
    text.replace(QStringLiteral("%d"), QString::number(*argument));
  }
  ask(parent_, QMessageBox::Warning, text, QMessageBox::Ok);
}

void SettingsMessageView::showFailure(const std::string& reason) {
  ask(parent_, QMessageBox::Critical, QString::fromStdString(reason), QMessageBox::Ok);
}

bool SettingsMessageView::confirm(int id) {
  return ask(parent_, QMessageBox::Question, library_.text(id),
             QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

bool SettingsMessageView::askYesNo(int id) {
  return ask(parent_, QMessageBox::Question, library_.text(id),
             QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace korvane::panel
