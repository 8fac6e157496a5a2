#pragma once

// What the window tests share: the built language packs made active in a test's own program
// directory, and the answers to the modal boxes a window opens, so that no test waits for a user.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <string>

#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel::testing {

/// Makes the built pack of `language` ("english", "japanese") the active pack of `programDir`
/// (which ends in '/').
inline void installPack(const std::string& programDir, const char* language) {
  const QString active = QString::fromStdString(programDir) + ResourceLibrary::kActiveFileName;
  QFile::remove(active);
  ASSERT_TRUE(
      QFile::copy(QStringLiteral(KORVANE_BINARY_DIR "OSTREL_LANG.%1.dat").arg(language), active))
      << language;
}

/// Installs the built pack of `language` in `programDir` and loads it into `library`.
inline void loadPack(ResourceLibrary& library, const std::string& programDir,
                     const char* language) {
  installPack(programDir, language);
  std::string err;
  ASSERT_TRUE(library.load(QString::fromStdString(programDir), &err)) << err;
}

/// Answers every modal box that opens while it lives: every box is recorded and closed with the
/// button the test chose.
class ModalAnswerer {
 public:
  /// Looks for a modal box every 20 ms; message boxes are answered with `button`, other dialogs
  /// handed to `onDialog` (when set) and then, if still open, closed with the dialog result.
  explicit ModalAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) : button_(button) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(20);
  }

  void setButton(QMessageBox::StandardButton button) { button_ = button; }
  void setDialogHandler(std::function<void(QDialog&)> handler) { onDialog_ = std::move(handler); }
  /// Dialogs left open by the handler are accepted, or rejected after this.
  void setDialogResult(QDialog::DialogCode result) { dialogResult_ = result; }

  /// The texts of the message boxes answered so far, with the caption of each.
  const QStringList& texts() const { return texts_; }
  const QStringList& captions() const { return captions_; }
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
      if (dialog->isVisible()) {
        dialog->done(dialogResult_);
      }
    }
  }

  QTimer timer_;
  QMessageBox::StandardButton button_;
  std::function<void(QDialog&)> onDialog_;
  QDialog::DialogCode dialogResult_ = QDialog::Accepted;
  QStringList texts_;
  QStringList captions_;
  int dialogs_ = 0;
};

}  // namespace korvane::panel::testing
