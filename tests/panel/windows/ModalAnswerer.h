#pragma once

// Answers the modal boxes that a window test makes a window open, so that no test waits for a
// user: every box is recorded and closed with the button the test chose.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <vector>

namespace korvane::panel::testing {

class ModalAnswerer {
 public:
  /// Looks for a modal box every 20 ms; message boxes are answered with `button`, other dialogs
  /// handed to `onDialog` (when set) and then accepted.
  explicit ModalAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) : button_(button) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(20);
  }

  void setButton(QMessageBox::StandardButton button) { button_ = button; }
  void setDialogHandler(std::function<void(QDialog&)> handler) { onDialog_ = std::move(handler); }

  /// The texts of the message boxes answered so far, with the caption of each.
  const std::vector<QString>& texts() const { return texts_; }
  const std::vector<QString>& captions() const { return captions_; }
  int dialogs() const { return dialogs_; }

 private:
  void answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      texts_.push_back(box->text());
      captions_.push_back(box->windowTitle());
      QAbstractButton* chosen = box->button(button_);
      if (chosen == nullptr) {
        chosen = box->buttons().front();
      }
      chosen->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      ++dialogs_;
      if (onDialog_) {
        onDialog_(*dialog);
      }
      dialog->accept();
    }
  }

  QTimer timer_;
  QMessageBox::StandardButton button_;
  std::function<void(QDialog&)> onDialog_;
  std::vector<QString> texts_;
  std::vector<QString> captions_;
  int dialogs_ = 0;
};

}  // namespace korvane::panel::testing
