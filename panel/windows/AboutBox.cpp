#include "panel/windows/AboutBox.h"

#include <QDialog>
#include <QLabel>

namespace korvane::panel {
namespace {

constexpr int kAboutDialog = 126;
constexpr int kVersionControl = 1100;

}  // namespace

void AboutBox::show(const ResourceLibrary& library, QWidget* parent) {
  std::unique_ptr<QWidget> widget = library.dialog(kAboutDialog, parent);
  auto* dialog = qobject_cast<QDialog*>(widget.get());
  if (dialog == nullptr) {
    return;
  }
  if (auto* version = ResourceLibrary::control<QLabel>(dialog, kVersionControl)) {
    version->setText(QString::fromLatin1(kVersionText));
  }
  dialog->exec();
}

}  // namespace korvane::panel
