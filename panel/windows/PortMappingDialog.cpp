#include "panel/windows/PortMappingDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace korvane::panel {

PortMappingDialog::PortMappingDialog(const ResourceLibrary& library, common::ManagerConfig& config,
                                     int hubNumber, int hubPort, PortMapper& mapper,
                                     QWidget* parent)
    : library_(library) {
  std::unique_ptr<QWidget> widget = library.dialog(155, parent);
  if (qobject_cast<QDialog*>(widget.get()) == nullptr) {
    return;
  }
  dialog_.reset(static_cast<QDialog*>(widget.release()));
  view_ = std::make_unique<MessageBoxView>(library, dialog_.get());
  editor_ = std::make_unique<PortMappingEditor>(config, hubNumber, hubPort, mapper, *view_);
  QDialog* dialog = dialog_.get();
  if (auto* number = ResourceLibrary::control<QLabel>(dialog, 1078)) {
    number->setText(QString::number(hubNumber));
  }
  if (auto* port = ResourceLibrary::control<QLabel>(dialog, 1079)) {
    port->setText(QString::number(hubPort));
  }
  if (auto* port = ResourceLibrary::control<QLineEdit>(dialog, 1081)) {
    port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
    port->setText(QString::number(editor_->storedPort()));
  }
  const auto connectButton = [&](int id, auto&& action) {
    if (auto* button = ResourceLibrary::control<QPushButton>(dialog, id)) {
      QObject::connect(button, &QPushButton::clicked, dialog, action);
    }
  };
  connectButton(1085, [this] { showState(editor_->set(typedPort().toStdString())); });
  connectButton(1086, [this] { showState(editor_->remove(typedPort().toStdString())); });
  connectButton(1, [this] {
    if (editor_->accept(typedPort().toStdString())) {
      dialog_->accept();
    }
  });
  connectButton(2, [this] { dialog_->reject(); });
}

PortMappingDialog::~PortMappingDialog() = default;

QString PortMappingDialog::typedPort() const {
  const auto* port = ResourceLibrary::control<QLineEdit>(dialog_.get(), 1081);
  return port == nullptr ? QString() : port->text();
}

void PortMappingDialog::showState(bool mapped) {
  if (auto* status = ResourceLibrary::control<QLabel>(dialog_.get(), 1082)) {
    status->setText(library_.text(PortMappingEditor::statusText(mapped)));
  }
  if (auto* missing = ResourceLibrary::control<QLabel>(dialog_.get(), 1083)) {
    missing->setVisible(!mapped);
  }
  if (auto* present = ResourceLibrary::control<QLabel>(dialog_.get(), 1084)) {
    present->setVisible(mapped);
  }
}

void PortMappingDialog::open() {
  if (dialog_ == nullptr) {
    return;
  }
  showState(editor_->isMapped());
  dialog_->show();
}

bool PortMappingDialog::exec() {
  if (dialog_ == nullptr) {
    return false;
  }
  showState(editor_->isMapped());
  dialog_->exec();
  return true;
}

}  // namespace korvane::panel
