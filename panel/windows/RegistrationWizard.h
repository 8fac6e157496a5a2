#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "common/ManagerConfig.h"
#include "panel/logic/RegistrationClient.h"
#include "panel/logic/RegistrationForm.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The domain registration wizard: the frame (dialog 175) shows one page at a time, each page
/// replacing the one before, and ends with a pass code stored for the manager's dynamic DNS
/// update. Requests to the registration service run on a thread of their own while the
/// please-wait box (dialog 191) shows, so the window keeps painting; the page takes the outcome
/// when the request returns, within the HTTP client's limits.
class RegistrationWizard : public QObject {
 public:
  /// Opens the wizard as a modal dialog over `over` and returns when it closes: the main
  /// window's command 40014. One client (and so one discovery) serves every opening in the
  /// process; it finds the service through the registration host setting of `config`'s file.
  static void open(const ResourceLibrary& library, common::ManagerConfig& config, QWidget* over);

  /// A wizard with empty form data, on its first page but not shown; `client` and `config`
  /// must outlive it.
  RegistrationWizard(const ResourceLibrary& library, common::ManagerConfig& config,
                     RegistrationClient& client, std::atomic<bool>& cancel, QWidget* over);
  ~RegistrationWizard() override;
  RegistrationWizard(const RegistrationWizard&) = delete;
  RegistrationWizard& operator=(const RegistrationWizard&) = delete;

  /// The frame; null when the language pack lacks dialog 175.
  QDialog* frame() const { return frame_.get(); }
  /// The number of the page on show.
  int pageNumber() const { return pageNumber_; }
  /// The page on show.
  QWidget* page() const { return page_; }
  /// Whether a request is running (the please-wait box shows).
  bool busy() const { return worker_.joinable(); }

  /// Replaces the page on show by page `number`, as a button leading there does.
  void showPage(int number);

  /// Every page of the wizard (and the please-wait box) in a frame of its own, shown with all
  /// its labels visible, as the pages look at their fullest: for screenshots, and for the test
  /// that no text is cut off. A page the pack lacks is left out.
  static std::vector<std::pair<int, std::unique_ptr<QDialog>>> framedPages(
      const ResourceLibrary& library);

 private:
  void onButton(int control);
  void onRequestButton(int control);
  void onPageOpened();
  void onDomainPageData(const RegistrationOutcome& outcome);
  void submitFormPage();
  void discardPassCode();
  void storePassCode(const RegistrationOutcome& outcome);
  void showError(const RegistrationOutcome& outcome);
  void hideStatusLabels();
  QString fieldText(int control) const;
  void setLabel(int control, const QString& text, bool visible);

  /// Runs `work` on a thread of its own with the please-wait box shown; `done` gets its
  /// outcome on the GUI thread.
  void run(std::function<RegistrationOutcome()> work,
           std::function<void(const RegistrationOutcome&)> done);
  /// Runs `work` and moves to `next` on success; else shows the error on the page.
  void runThenShow(std::function<RegistrationOutcome()> work, int next);

  const ResourceLibrary& library_;
  common::ManagerConfig& config_;
  RegistrationClient& client_;
  std::atomic<bool>& cancel_;
  std::unique_ptr<QDialog> frame_;
  QWidget* pageArea_ = nullptr;
  QPointer<QWidget> page_;
  int pageNumber_ = 0;
  std::unique_ptr<QWidget> pleaseWait_;
  std::thread worker_;
  RegistrationForm form_;
  bool loggedIn_ = false;
};

}  // namespace korvane::panel
