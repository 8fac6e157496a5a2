#include "panel/windows/RegistrationWizard.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "common/DnsLog.h"
#include "panel/logic/PassCodeStore.h"
#include "panel/logic/RegistrationWizardFlow.h"
#include "panel/logic/TextFormat.h"
#include "panel/windows/MessageBoxes.h"

namespace korvane::panel {
namespace {

using namespace wizard;
using R = RegistrationResult;

std::string utf8(const QString& text) {
  return text.toUtf8().toStdString();
}

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The number an object name "idNNNN" carries; 0 for other names.
int controlNumber(const QObject* object) {
  const QString name = object->objectName();
  if (!name.startsWith(QStringLiteral("id"))) {
    return 0;
  }
  return name.mid(2).toInt();
}

RegistrationOutcome asOutcome(const DiscoveryOutcome& discovery) {
  RegistrationOutcome outcome;
  outcome.result = discovery.result;
  outcome.detail = discovery.detail;
  return outcome;
}

}  // namespace

void RegistrationWizard::open(const ResourceLibrary& library, common::ManagerConfig& config,
                              QWidget* over) {
  // The service's pages, once discovered, serve the wizard for the rest of the panel's life.
  static std::atomic<bool> cancel{false};
  static RegistrationClient client([&] {
    RegistrationClientSettings settings =
        RegistrationClientSettings::forInstallation(config.path());
    settings.cancel = &cancel;
    return settings;
  }());
  cancel = false;
  RegistrationWizard wizard(library, config, client, cancel, over);
  if (wizard.frame() != nullptr) {
    wizard.frame()->exec();
  }
}

RegistrationWizard::RegistrationWizard(const ResourceLibrary& library,
                                       common::ManagerConfig& config, RegistrationClient& client,
                                       std::atomic<bool>& cancel, QWidget* over)
    : library_(library), config_(config), client_(client), cancel_(cancel) {
  std::unique_ptr<QWidget> frame = library_.dialog(kFrameDialog, over);
  frame_.reset(qobject_cast<QDialog*>(frame.get()));
  if (frame_ == nullptr) {
    qCritical("the language pack has no wizard frame %d", kFrameDialog);
    return;
  }
  frame.release();
  frame_->layout()->setSizeConstraint(QLayout::SetFixedSize);
  pageArea_ = frame_->findChild<QWidget*>(QStringLiteral("pageArea"));
  if (pageArea_ == nullptr) {
    pageArea_ = frame_.get();
  } else {
    auto* layout = new QVBoxLayout(pageArea_);  // owned by pageArea_
    layout->setContentsMargins(0, 0, 0, 0);
  }
  showPage(firstPage(config_.readPassCode()));
}

RegistrationWizard::~RegistrationWizard() {
  if (worker_.joinable()) {
    // A request still running gives up at once; its outcome is no longer wanted.
    cancel_ = true;
    worker_.join();
  }
}

void RegistrationWizard::showPage(int number) {
  if (page_ != nullptr) {
    page_->hide();
    page_->deleteLater();
  }
  std::unique_ptr<QWidget> next = library_.dialog(number, pageArea_);
  if (next == nullptr) {
    qCritical("the language pack has no wizard page %d", number);
    return;
  }
  page_ = next.release();
  pageNumber_ = number;
  pageArea_->layout()->addWidget(page_);
  for (QPushButton* button : page_->findChildren<QPushButton*>()) {
    const int control = controlNumber(button);
    if (control != 0) {
      connect(button, &QPushButton::clicked, this, [this, control] { onButton(control); });
    }
  }
  hideStatusLabels();
  onPageOpened();
  page_->show();
}

std::vector<std::pair<int, std::unique_ptr<QDialog>>> RegistrationWizard::framedPages(
    const ResourceLibrary& library) {
  constexpr int kPages[] = {kDiscardPage,      kStartPage,          kPickupPage,     kLoginPage,
                            kResetMailPage,    kResetMailOtherPage, kDomainPage,     kAddDomainPage,
                            kOrganisationPage, kUserPage,           kContactPage,    kPersonPage,
                            kSummaryPage,      kDonePage,           kUnreachablePage};
  std::vector<std::pair<int, std::unique_ptr<QDialog>>> framed;
  for (int number : kPages) {
    std::unique_ptr<QWidget> frame = library.dialog(kFrameDialog);
    auto* area =
        frame == nullptr ? nullptr : frame->findChild<QWidget*>(QStringLiteral("pageArea"));
    if (area == nullptr || qobject_cast<QDialog*>(frame.get()) == nullptr) {
      continue;
    }
    auto* layout = new QVBoxLayout(area);  // owned by area
    layout->setContentsMargins(0, 0, 0, 0);
    std::unique_ptr<QWidget> page = library.dialog(number, area);
    if (page == nullptr) {
      continue;
    }
    layout->addWidget(page.release());
    frame->show();
    framed.emplace_back(number, static_cast<QDialog*>(frame.release()));
  }
  if (auto wait = library.dialog(kPleaseWaitDialog); qobject_cast<QDialog*>(wait.get())) {
    wait->show();
    framed.emplace_back(kPleaseWaitDialog, static_cast<QDialog*>(wait.release()));
  }
  return framed;
}

void RegistrationWizard::onPageOpened() {
  const auto limit = [this](int control, int maxChars) {
    if (auto* edit = ResourceLibrary::control<QLineEdit>(page_, control)) {
      edit->setMaxLength(maxChars);
    }
  };
  switch (pageNumber_) {
    case kStartPage:
      setSameAsOrganisation(&form_, false);
      break;
    case kLoginPage:
      loggedIn_ = false;
      limit(kLoginIdField, kLoginTextMaxChars);
      limit(kPasswordField, kLoginTextMaxChars);
      run([this] { return asOutcome(client_.discover()); },
          [this](const RegistrationOutcome& outcome) {
            if (outcome.result != R::kSuccess) {
              showPage(kUnreachablePage);
            }
          });
      break;
    case kResetMailPage:
    case kResetMailOtherPage:
      limit(kLoginIdField, kLoginTextMaxChars);
      limit(kMailField, kLoginTextMaxChars);
      break;
    case kDomainPage:
      limit(kDomainField, kDomainLabelMaxChars);
      run([this] { return client_.fetchTermsDocument(); },
          [this](const RegistrationOutcome& outcome) { onDomainPageData(outcome); });
      break;
    case kAddDomainPage:
      if (const auto info = client_.serviceInfo()) {
        setLabel(kRegisteredDomainLabel,
                 fromUtf8(form_[FormField::kDomain] + "." + info->baseDomain), true);
      }
      break;
    case kOrganisationPage:
    case kUserPage:
    case kContactPage:
    case kPersonPage:
      resetPageFields(pageNumber_, &form_);
      for (const PageField& field : pageFields(pageNumber_)) {
        limit(field.control, field.maxChars);
      }
      break;
    case kSummaryPage:
      if (auto* summary = ResourceLibrary::control<QPlainTextEdit>(page_, kSummaryText)) {
        const std::string text = summaryText(
            form_, [this](int id) { return utf8(library_.text(id)); },
            utf8(library_.text(kSameAsOrgSummaryText)));
        summary->setPlainText(fromUtf8(text));
      }
      break;
    default:
      break;
  }
}

void RegistrationWizard::onDomainPageData(const RegistrationOutcome& outcome) {
  const auto info = client_.serviceInfo();
  if (outcome.result != R::kSuccess || !info) {
    showPage(kUnreachablePage);
    return;
  }
  if (auto* terms = ResourceLibrary::control<QPlainTextEdit>(page_, kTermsText)) {
    terms->setPlainText(fromUtf8(outcome.text));
  }
  const auto fill = [this](int control, std::span<const std::string> values) {
    if (auto* label = ResourceLibrary::control<QLabel>(page_, control)) {
      label->setText(fromUtf8(formatWithTexts(utf8(label->text()), values)));
    }
  };
  const std::array prices = {groupedPrice(info->annualPrice), groupedPrice(info->monthlyPrice)};
  fill(kPriceLabel, prices);
  fill(kBaseDomainLabel, std::span(&info->baseDomain, 1));
}

void RegistrationWizard::onButton(int control) {
  if (busy()) {
    return;
  }
  if (control == kCloseButton) {
    frame_->reject();
    return;
  }
  if (const auto next = linkedPage(pageNumber_, control)) {
    showPage(*next);
    return;
  }
  onRequestButton(control);
}

void RegistrationWizard::onRequestButton(int control) {
  const int page = pageNumber_;
  if (page == kDiscardPage && control == kDiscardButton) {
    discardPassCode();
  } else if (page == kPickupPage && control == kSubmitButton) {
    const std::string code = utf8(fieldText(kPickupField).trimmed());
    if (code.empty()) {
      hideStatusLabels();
      setLabel(kPickupEmptyLabel, {}, true);
      return;
    }
    run([this, code] { return client_.redeemPickupCode(code); },
        [this](const RegistrationOutcome& outcome) { storePassCode(outcome); });
  } else if (page == kLoginPage && control == kLoginButton) {
    form_[FormField::kUserLoginId] = utf8(fieldText(kLoginIdField));
    form_[FormField::kUserLoginPassword] = utf8(fieldText(kPasswordField));
    run([this, id = form_[FormField::kUserLoginId],
         password =
             form_[FormField::kUserLoginPassword]] { return client_.checkLogin(id, password); },
        [this](const RegistrationOutcome& outcome) {
          if (outcome.result != R::kSuccess) {
            showError(outcome);
            return;
          }
          loggedIn_ = true;
          showPage(pageAfterSuccess(kLoginPage, true));
        });
  } else if ((page == kResetMailPage || page == kResetMailOtherPage) &&
             control == kSendMailButton) {
    run([this, id = utf8(fieldText(kLoginIdField)),
         mail = utf8(fieldText(kMailField))] { return client_.requestPasswordResetMail(id, mail); },
        [this](const RegistrationOutcome& outcome) {
          if (outcome.result != R::kSuccess) {
            showError(outcome);
            return;
          }
          if (auto* send = ResourceLibrary::control<QPushButton>(page_, kSendMailButton)) {
            send->hide();
          }
          setLabel(kMailSentLabel, {}, true);
        });
  } else if (page == kDomainPage && control == kNextButton) {
    const std::string domain = utf8(fieldText(kDomainField).trimmed());
    run([this, domain] { return client_.checkDomainName(domain); },
        [this, domain](const RegistrationOutcome& outcome) {
          if (outcome.result != R::kSuccess) {
            showError(outcome);
            return;
          }
          form_[FormField::kDomain] = domain;
          showPage(pageAfterSuccess(kDomainPage, loggedIn_));
        });
  } else if (page == kAddDomainPage && control == kSubmitButton) {
    run(
        [this, form = form_] {
          return client_.addDomain(form[FormField::kDomain], form[FormField::kUserLoginId],
                                   form[FormField::kUserLoginPassword]);
        },
        [this](const RegistrationOutcome& outcome) { storePassCode(outcome); });
  } else if (!pageFields(page).empty() && control == kNextButton) {
    submitFormPage();
  } else if (page == kSummaryPage && control == kSubmitButton) {
    run([this, form = form_] { return client_.registerDomain(form, kRegisterFrom); },
        [this](const RegistrationOutcome& outcome) { storePassCode(outcome); });
  }
}

void RegistrationWizard::submitFormPage() {
  takePageFields(
      pageNumber_, [this](int control) { return utf8(fieldText(control)); }, &form_);
  runThenShow([this, form = form_] { return client_.checkForm(form); },
              pageAfterSuccess(pageNumber_, loggedIn_));
}

void RegistrationWizard::discardPassCode() {
  if (panelMessageBox(frame_.get(), QMessageBox::Warning, library_.text(kDiscardQuestionText),
                      QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton,
                      library_.text(kDiscardQuestionCaption)) != QMessageBox::Ok) {
    return;
  }
  std::string err;
  if (!config_.writePassCode("", &err)) {
    qWarning("the stored pass code cannot be deleted: %s", err.c_str());
    return;
  }
  showPage(pageAfterSuccess(kDiscardPage, false));
}

void RegistrationWizard::storePassCode(const RegistrationOutcome& outcome) {
  if (outcome.result != R::kSuccess) {
    showError(outcome);
    return;
  }
  std::string warning;
  std::string err;
  if (!storeNewPassCode(config_, outcome.text, common::dnsLogPath(), &warning, &err)) {
    hideStatusLabels();
    setLabel(kMessageLabel, library_.text(kStoreFailedMessage).replace("%s", fromUtf8(err)), true);
    return;
  }
  if (!warning.empty()) {
    qWarning("%s", warning.c_str());
  }
  showPage(kDonePage);
}

void RegistrationWizard::showError(const RegistrationOutcome& outcome) {
  const auto display = errorDisplay(pageNumber_, outcome);
  if (!display) {
    return;
  }
  QString message = library_.text(display->messageId);
  if (display->argument) {
    message.replace(QStringLiteral("%d"), QString::number(*display->argument));
  }
  for (int label : display->labels) {
    setLabel(label, label == kMessageLabel ? message : QString(), true);
  }
  if (display->focusControl != 0) {
    if (auto* field = ResourceLibrary::control<QWidget>(page_, display->focusControl)) {
      field->setFocus();
    }
  }
}

void RegistrationWizard::hideStatusLabels() {
  for (int label : errorLabels(pageNumber_)) {
    if (auto* widget = page_->findChild<QLabel*>(ResourceLibrary::controlName(label))) {
      widget->hide();
    }
  }
}

QString RegistrationWizard::fieldText(int control) const {
  const QString name = ResourceLibrary::controlName(control);
  if (auto* edit = page_->findChild<QLineEdit*>(name)) {
    return edit->text();
  }
  if (auto* edit = page_->findChild<QPlainTextEdit*>(name)) {
    return edit->toPlainText();
  }
  ResourceLibrary::control<QLineEdit>(page_, control);  // reports the missing field
  return {};
}

void RegistrationWizard::setLabel(int control, const QString& text, bool visible) {
  auto* label = ResourceLibrary::control<QLabel>(page_, control);
  if (label == nullptr) {
    return;
  }
  if (!text.isEmpty()) {
    label->setText(text);
  }
  label->setVisible(visible);
}

void RegistrationWizard::run(std::function<RegistrationOutcome()> work,
                             std::function<void(const RegistrationOutcome&)> done) {
  hideStatusLabels();
  pleaseWait_ = library_.dialog(kPleaseWaitDialog, frame_.get());
  if (auto* box = qobject_cast<QDialog*>(pleaseWait_.get())) {
    box->setModal(true);
    box->show();
  }
  page_->setEnabled(false);
  worker_ = std::thread([this, work = std::move(work), done = std::move(done)] {
    RegistrationOutcome outcome = work();
    // Queued to this object: dropped if the wizard is gone (its destructor joins first).
    QMetaObject::invokeMethod(
        this,
        [this, outcome = std::move(outcome), done] {
          worker_.join();
          pleaseWait_.reset();
          page_->setEnabled(true);
          done(outcome);
        },
        Qt::QueuedConnection);
  });
}

void RegistrationWizard::runThenShow(std::function<RegistrationOutcome()> work, int next) {
  run(std::move(work), [this, next](const RegistrationOutcome& outcome) {
    if (outcome.result != R::kSuccess) {
      showError(outcome);
      return;
    }
    showPage(next);
  });
}

}  // namespace korvane::panel
