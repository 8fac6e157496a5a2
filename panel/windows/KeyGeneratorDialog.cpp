#include "panel/windows/KeyGeneratorDialog.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "panel/logic/HubSettingsForm.h"

namespace korvane::panel {

std::optional<QString> KeyGeneratorDialog::keyOf(const QWidget& dialog) {
  const auto* phrase = ResourceLibrary::control<QLineEdit>(&dialog, 1023);
  if (phrase == nullptr) {
    return std::nullopt;
  }
  const std::optional<std::string> key = keyFromPhrase(phrase->text().toStdString());
  if (!key) {
    return std::nullopt;
  }
  return QString::fromStdString(*key);
}

std::optional<QString> KeyGeneratorDialog::run(const ResourceLibrary& library, QWidget* parent) {
  std::unique_ptr<QWidget> widget = library.dialog(135, parent);
  auto* dialog = qobject_cast<QDialog*>(widget.get());
  if (dialog == nullptr) {
    return std::nullopt;
  }
  if (auto* ok = ResourceLibrary::control<QPushButton>(dialog, 1)) {
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  }
  if (auto* cancel = ResourceLibrary::control<QPushButton>(dialog, 2)) {
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  }
  if (dialog->exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return keyOf(*dialog);
}

}  // namespace korvane::panel
