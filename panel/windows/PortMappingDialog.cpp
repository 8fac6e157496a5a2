#include "panel/windows/PortMappingDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <functional>

#include "panel/logic/HubSettingsText.h"

namespace korvane::panel {
namespace {

constexpr int kPortField = 1081;
constexpr int kStatusText = 1082;
constexpr int kNotMappedPicture = 1083;
constexpr int kMappedPicture = 1084;
constexpr int kSetButton = 1085;
constexpr int kRemoveButton = 1086;
constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;

// Keeps the dialog open while the router is asked: its close button and the keys that would end
// it do nothing until the answer is shown.
class InputGuard : public QObject {
 public:
  explicit InputGuard(std::function<bool()> asking) : asking_(std::move(asking)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!asking_()) {
      return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    return false;
  }

 private:
  std::function<bool()> asking_;
};

}  // namespace

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
  if (auto* port = ResourceLibrary::control<QLineEdit>(dialog, kPortField)) {
    port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
    port->setText(QString::number(editor_->storedPort()));
  }
  const auto connectButton = [&](int id, auto&& action) {
    if (auto* button = ResourceLibrary::control<QPushButton>(dialog, id)) {
      QObject::connect(button, &QPushButton::clicked, dialog, action);
    }
  };
  connectButton(kSetButton, [this] {
    ask(editor_->press(RouterAction::kSet, typedPort().toStdString()));
  });
  connectButton(kRemoveButton, [this] {
    ask(editor_->press(RouterAction::kRemove, typedPort().toStdString()));
  });
  connectButton(kOkButton, [this] {
    if (editor_->accept(typedPort().toStdString())) {
      dialog_->accept();
    }
  });
  connectButton(kCancelButton, [this] { dialog_->reject(); });
  inputGuard_ = std::make_unique<InputGuard>([this] { return asking(); });
  dialog->installEventFilter(inputGuard_.get());
}

PortMappingDialog::~PortMappingDialog() {
  // The answer the worker may have queued goes with the dialog.
  if (worker_.joinable()) {
    worker_.join();
  }
  if (dialog_ != nullptr) {
    dialog_->removeEventFilter(inputGuard_.get());
  }
}

void PortMappingDialog::ask(const RouterRequest& request) {
  if (asking()) {
    return;
  }
  if (!PortMappingEditor::asksRouter(request)) {
    showState(editor_->show(editor_->ask(request)));
    return;
  }
  setAsking(true);
  worker_ = std::thread([this, request] {
    const RouterAnswer answer = editor_->ask(request);
    QMetaObject::invokeMethod(
        dialog_.get(),
        [this, answer] {
          worker_.join();
          setAsking(false);
          showState(editor_->show(answer));
        },
        Qt::QueuedConnection);
  });
}

void PortMappingDialog::setAsking(bool asking) {
  for (const int id : {kPortField, kSetButton, kRemoveButton, kOkButton, kCancelButton}) {
    if (auto* control = ResourceLibrary::control<QWidget>(dialog_.get(), id)) {
      control->setEnabled(!asking);
    }
  }
  if (!asking) {
    return;
  }
  if (auto* status = ResourceLibrary::control<QLabel>(dialog_.get(), kStatusText)) {
    status->setText(library_.text(text::kAskingRouter));
  }
  for (const int id : {kNotMappedPicture, kMappedPicture}) {
    if (auto* picture = ResourceLibrary::control<QLabel>(dialog_.get(), id)) {
      picture->setVisible(false);
    }
  }
}

QString PortMappingDialog::typedPort() const {
  const auto* port = ResourceLibrary::control<QLineEdit>(dialog_.get(), kPortField);
  return port == nullptr ? QString() : port->text();
}

void PortMappingDialog::showState(bool mapped) {
  if (auto* status = ResourceLibrary::control<QLabel>(dialog_.get(), kStatusText)) {
    status->setText(library_.text(PortMappingEditor::statusText(mapped)));
  }
  if (auto* missing = ResourceLibrary::control<QLabel>(dialog_.get(), kNotMappedPicture)) {
    missing->setVisible(!mapped);
  }
  if (auto* present = ResourceLibrary::control<QLabel>(dialog_.get(), kMappedPicture)) {
    present->setVisible(mapped);
  }
}

void PortMappingDialog::open() {
  if (dialog_ == nullptr) {
    return;
  }
  dialog_->show();
  ask(editor_->opening());
}

bool PortMappingDialog::exec() {
  if (dialog_ == nullptr) {
    return false;
  }
  ask(editor_->opening());
  dialog_->exec();
  return true;
}

}  // namespace korvane::panel
