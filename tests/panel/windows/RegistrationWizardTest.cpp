// The registration wizard driven through each of its ways against the stand-in registration
// service on loopback, from the built English pack, on the offscreen platform.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <set>

#include "common/DnsLog.h"
#include "panel/logic/MainStatusText.h"
#include "panel/logic/MainWindowText.h"
#include "panel/logic/RegistrationWizardFlow.h"
#include "panel/windows/MainWindow.h"
#include "panel/windows/RegistrationWizard.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/RegistrationTestService.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;
using namespace wizard;
using Service = korvane::testing::RegistrationTestService;

// A page that sends a request has its outcome well within this; the stand-in answers at once.
constexpr int kPageLimitMs = 10000;

class RegistrationWizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.useForThisProcess();
    testing::loadPack(library_, dir_.path(), "english");
    korvane::testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\n");
  }

  void TearDown() override { wizard_.reset(); }

  /// Opens the wizard with a client of `dispatchUrl` (the stand-in's by default).
  void openWizard(std::string dispatchUrl = {}, std::chrono::milliseconds totalLimit = 10s) {
    RegistrationClientSettings settings;
    settings.dispatchUrl = dispatchUrl.empty() ? service_.dispatchUrl() : dispatchUrl;
    settings.connectLimit = 5s;
    settings.totalLimit = totalLimit;
    settings.cancel = &cancel_;
    client_ = std::make_unique<RegistrationClient>(settings);
    wizard_ = std::make_unique<RegistrationWizard>(library_, config_, *client_, cancel_, over_);
    ASSERT_NE(wizard_->frame(), nullptr);
    wizard_->frame()->show();
  }

  /// Waits until page `number` shows and no request runs.
  void expectPage(int number) {
    const bool reached = QTest::qWaitFor(
        [&] { return wizard_->pageNumber() == number && !wizard_->busy(); }, kPageLimitMs);
    ASSERT_TRUE(reached) << "on page " << wizard_->pageNumber() << ", not " << number;
  }

  template <class T>
  T* control(int id) {
    T* found = ResourceLibrary::control<T>(wizard_->page(), id);
    EXPECT_NE(found, nullptr) << "page " << wizard_->pageNumber() << " control " << id;
    return found;
  }

  void click(int button) {
    if (auto* found = control<QPushButton>(button)) {
      found->click();
    }
  }

  void type(int field, const QString& text) {
    const QString name = ResourceLibrary::controlName(field);
    if (auto* edit = wizard_->page()->findChild<QLineEdit*>(name)) {
      edit->setText(text);
    } else if (auto* plain = control<QPlainTextEdit>(field)) {
      plain->setPlainText(text);
    }
  }

  bool shown(int label) {
    auto* found = control<QLabel>(label);
    return found != nullptr && found->isVisibleTo(wizard_->page());
  }

  std::string passCode() const { return config_.readPassCode(); }
  std::string dnsLog() const { return korvane::testing::readFile(dir_.log("dnsupdate.log")); }

  /// The body of the last request to `page` of the stand-in.
  std::string lastRequest(const std::string& page) const {
    std::string last;
    for (const std::string& line : service_.requests()) {
      if (line.find("/" + page + "|") != std::string::npos) {
        last = line;
      }
    }
    return last;
  }

  /// The encoded form of one field as a request carries it.
  static std::string sent(std::string_view name, const std::string& value) {
    return encodeForm({{name, value}});
  }

  /// The last registration sent every one of `fields`, and its pass code is stored.
  void expectRegistered(std::initializer_list<std::pair<std::string_view, std::string>> fields) {
    const std::string request = lastRequest(Service::kRegisterPage);
    for (const auto& [name, value] : fields) {
      SCOPED_TRACE(name);
      EXPECT_NE(request.find(sent(name, value)), std::string::npos) << request;
    }
    EXPECT_EQ(passCode(), korvane::testing::scramblePassCode(updateAddress_));
  }

  /// Goes from the start page through the login page to the domain page, as a new user.
  void reachDomainPageAsNewUser() {
    expectPage(kStartPage);
    click(kAccountPathButton);
    expectPage(kLoginPage);
    click(kNewUserButton);
    expectPage(kDomainPage);
    type(kDomainField, QStringLiteral("myhub"));
    click(kNextButton);
  }

  korvane::testing::TempProgramDir dir_;
  ResourceLibrary library_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini")};
  std::atomic<bool> cancel_{false};
  std::string updateAddress_ = "http://127.0.0.1:9/update?code=wizard";
  Service service_{dir_.path(), korvane::testing::scramblePassCode(updateAddress_)};
  std::unique_ptr<RegistrationClient> client_;
  QWidget* over_ = nullptr;  ///< the window the wizard opens over
  std::unique_ptr<RegistrationWizard> wizard_;
};

TEST_F(RegistrationWizardTest, PickupCodeStoresThePassCodeAndResetsTheLog) {
  korvane::testing::writeFile(dir_.log("dnsupdate.log"), "last outcome");
  openWizard();
  expectPage(kStartPage);
  click(kPickupPathButton);
  expectPage(kPickupPage);

  // An empty code is refused on the page, without a request.
  click(kSubmitButton);
  EXPECT_TRUE(shown(kPickupEmptyLabel));
  EXPECT_TRUE(lastRequest(Service::kPickupPage).empty());

  service_.setReply(Service::kPickupPage, "Error: PickupCode is not correct.\r\n");
  type(kPickupField, QString::fromStdString(service_.pickupCode()));
  click(kSubmitButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard_->busy() && shown(kMessageLabel); }));
  EXPECT_EQ(control<QLabel>(kMessageLabel)->text(), library_.text(715));
  EXPECT_TRUE(shown(1198));
  EXPECT_FALSE(shown(kPickupEmptyLabel));
  EXPECT_EQ(passCode(), "");

  service_.setReply(
      Service::kPickupPage,
      "OK: UpdatePassCode: " + korvane::testing::scramblePassCode(updateAddress_) + "\r\n");
  click(kSubmitButton);
  expectPage(kDonePage);
  EXPECT_EQ(passCode(), korvane::testing::scramblePassCode(updateAddress_));
  EXPECT_EQ(dnsLog(), common::kDnsLogPending);
  click(kCloseButton);
  EXPECT_FALSE(wizard_->frame()->isVisible());
}

TEST_F(RegistrationWizardTest, LoginCheckDomainAndAddDomain) {
  openWizard();
  expectPage(kStartPage);
  click(kAccountPathButton);
  expectPage(kLoginPage);
  EXPECT_EQ(control<QLineEdit>(kPasswordField)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(control<QLineEdit>(kLoginIdField)->maxLength(), kLoginTextMaxChars);

  service_.setReply(Service::kCheckLoginPage, "Error: Authentication Failed.\r\n");
  type(kLoginIdField, QStringLiteral("yamada"));
  type(kPasswordField, QStringLiteral("pw"));
  click(kLoginButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard_->busy() && shown(kMessageLabel); }));
  EXPECT_EQ(wizard_->pageNumber(), kLoginPage);
  EXPECT_TRUE(shown(1193));

  service_.setReply(Service::kCheckLoginPage, "OK: Hello Yamada\r\n");
  click(kLoginButton);
  expectPage(kDomainPage);
  EXPECT_EQ(control<QLabel>(kPriceLabel)->text(),
            QStringLiteral("Price: 3,000.50 a year, or 300 a month."));
  EXPECT_EQ(control<QLabel>(kBaseDomainLabel)->text(), QStringLiteral(".vlan.example"));
  EXPECT_TRUE(control<QPlainTextEdit>(kTermsText)->toPlainText().contains("pass code secret"));

  service_.setReply(Service::kCheckDomainPage, "Error: Domain Already In Use.\r\n");
  type(kDomainField, QStringLiteral("myhub"));
  click(kNextButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard_->busy() && shown(1160); }));
  EXPECT_FALSE(shown(1163));
  service_.setReply(Service::kCheckDomainPage, "OK\r\n");
  click(kNextButton);
  expectPage(kAddDomainPage);
  EXPECT_EQ(control<QLabel>(kRegisteredDomainLabel)->text(), QStringLiteral("myhub.vlan.example"));
  click(kSubmitButton);
  expectPage(kDonePage);
  EXPECT_EQ(lastRequest(Service::kAddDomainPage).substr(0, 5), "POST ");
  EXPECT_NE(lastRequest(Service::kAddDomainPage)
                .find(sent("domain", "myhub") + "&" + sent("user_login_id", "yamada") + "&" +
                      sent("user_login_password", "pw")),
            std::string::npos);
  EXPECT_EQ(passCode(), korvane::testing::scramblePassCode(updateAddress_));
  EXPECT_EQ(dnsLog(), common::kDnsLogPending);
}

TEST_F(RegistrationWizardTest, NewUserThroughOrganisationUserAndContactPages) {
  openWizard();
  reachDomainPageAsNewUser();
  expectPage(kOrganisationPage);
  type(1136, QStringLiteral("Hokuto Ltd"));
  // A field the service refuses keeps the page and takes the focus.
  service_.setReply(Service::kFormCheckPage,
                    "Error: Field(org_fax) is too long.\r\nLimit is 20\r\n");
  click(kNextButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard_->busy() && shown(kMessageLabel); }));
  EXPECT_EQ(control<QLabel>(kMessageLabel)->text(),
            QStringLiteral("A value is too long (20 characters at most)."));
  EXPECT_EQ(wizard_->frame()->focusWidget(), control<QLineEdit>(1143));
  service_.setReply(Service::kFormCheckPage, "OK\r\n");
  click(kNextButton);
  expectPage(kUserPage);
  type(1010, QStringLiteral("hokuto"));
  type(1011, QStringLiteral("secret"));
  type(1012, QString::fromUtf8("\xE5\xB1\xB1\xE7\x94\xB0"));
  type(1021, QStringLiteral("yamada@example.jp"));
  click(kNextButton);
  expectPage(kContactPage);
  type(1025, QStringLiteral("Sato"));
  type(1034, QStringLiteral("sato@example.jp"));
  click(kNextButton);
  expectPage(kSummaryPage);
  const QString summary = control<QPlainTextEdit>(kSummaryText)->toPlainText();
  EXPECT_TRUE(summary.contains(QStringLiteral("Organisation name: Hokuto Ltd")))
      << summary.toStdString();
  EXPECT_FALSE(summary.contains(QStringLiteral("secret")));

  // Back from the summary leads to the contact page.
  click(kBackButton);
  expectPage(kContactPage);
  type(1025, QStringLiteral("Sato"));
  type(1034, QStringLiteral("sato@example.jp"));
  click(kNextButton);
  expectPage(kSummaryPage);
  click(kSubmitButton);
  expectPage(kDonePage);
  expectRegistered({{"register_type", "1"},
                    {"domain", "myhub"},
                    {"org_name", "Hokuto Ltd"},
                    {"user_name", "\xE5\xB1\xB1\xE7\x94\xB0"},
                    {"account_contact_mail", "sato@example.jp"},
                    {"register_from", std::string(kRegisterFrom)}});
}

TEST_F(RegistrationWizardTest, NewUserWithoutAnOrganisation) {
  openWizard();
  reachDomainPageAsNewUser();
  expectPage(kOrganisationPage);
  click(kWithoutOrganisationButton);
  expectPage(kPersonPage);
  type(1010, QStringLiteral("taro"));
  type(1011, QStringLiteral("pw"));
  type(1002, QStringLiteral("Taro Yamada"));
  type(1021, QStringLiteral("taro@example.jp"));
  click(kNextButton);
  expectPage(kSummaryPage);
  click(kSubmitButton);
  expectPage(kDonePage);
  expectRegistered({{"register_type", "0"},
                    {"org_name", "Taro Yamada"},
                    {"user_name", "Taro Yamada"},
                    {"user_org_name", std::string(kSameAsOrg)},
                    {"account_contact_mail", "taro@example.jp"}});
}

TEST_F(RegistrationWizardTest, AStoredPassCodeIsDiscardedOnlyWhenConfirmed) {
  std::string err;
  ASSERT_TRUE(config_.writePassCode("c3RvcmVk", &err)) << err;
  openWizard();
  expectPage(kDiscardPage);
  testing::ModalAnswerer answerer(QMessageBox::Cancel);
  click(kDiscardButton);
  ASSERT_EQ(answerer.texts().size(), 1);
  EXPECT_EQ(answerer.texts()[0], library_.text(107));
  EXPECT_EQ(answerer.captions()[0], library_.text(108));
  EXPECT_EQ(wizard_->pageNumber(), kDiscardPage);
  EXPECT_EQ(passCode(), "c3RvcmVk");

  answerer.setButton(QMessageBox::Ok);
  click(kDiscardButton);
  expectPage(kStartPage);
  EXPECT_EQ(passCode(), "");
}

TEST_F(RegistrationWizardTest, AnUnreachableServiceShowsItsPage) {
  const std::string dead =
      "http://127.0.0.1:" + std::to_string(korvane::testing::freeTcpPort()) + "/dispatch";
  openWizard(dead);
  expectPage(kStartPage);
  click(kAccountPathButton);
  expectPage(kUnreachablePage);
  click(kCloseButton);
  EXPECT_FALSE(wizard_->frame()->isVisible());
}

TEST_F(RegistrationWizardTest, ASilentServiceIsGivenUpWhileTheWindowKeepsWorking) {
  korvane::testing::LoopbackServer silent;  // accepts connections, never answers
  ASSERT_TRUE(silent.started()) << silent.error();
  openWizard("http://127.0.0.1:" + std::to_string(silent.port()) + "/dispatch", 1500ms);
  expectPage(kStartPage);
  click(kAccountPathButton);
  // While the request waits, the please-wait box shows and the event loop keeps running.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(50);
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard_->busy(); }, 1000));
  const bool waitBoxShown = QTest::qWaitFor(
      [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        return box != nullptr && box->objectName() == QStringLiteral("id191");
      },
      1000);
  EXPECT_TRUE(waitBoxShown);
  QTest::qWait(500);
  EXPECT_TRUE(wizard_->busy());
  EXPECT_GE(ticks, 5);
  expectPage(kUnreachablePage);
}

// The manager's next update follows a stored pass code within a second; the margin covers a
// loaded test machine.
constexpr auto kWithinASecond = 2500ms;

TEST_F(RegistrationWizardTest, FinishingTheWizardMakesTheManagerUpdateAndTheMainWindowShowIt) {
  korvane::testing::HttpTestServer dnsServer(dir_.path(), false);
  ASSERT_TRUE(dnsServer.started());
  updateAddress_ = dnsServer.origin() + "/update?code=wizard&mode=ok";
  korvane::testing::ChildProcess::Options options;
  options.outputFile = dir_.path() + "manager-output.txt";
  options.workingDirectory = dir_.path();
  korvane::testing::ChildProcess manager(korvane::testing::builtProgram("Tollmar"), {"S"},
                                         dir_.path(), options);
  // The wizard opens over the main window, as its command 40014 opens it.
  AccountModelCache models(dir_.path() + "ini/");
  HubWindowRegistry registry;
  PanelContext context{library_, dir_.path(), config_, models, registry};
  const std::unique_ptr<MainWindow> main = MainWindow::create(context);
  ASSERT_NE(main, nullptr);
  main->window()->show();
  over_ = main->window();
  openWizard();
  expectPage(kStartPage);
  click(kPickupPathButton);
  expectPage(kPickupPage);
  service_.setReply(
      Service::kPickupPage,
      "OK: UpdatePassCode: " + korvane::testing::scramblePassCode(updateAddress_) + "\r\n");
  type(kPickupField, QString::fromStdString(service_.pickupCode()));
  click(kSubmitButton);
  expectPage(kDonePage);
  EXPECT_TRUE(
      korvane::testing::waitUntil([&] { return !dnsServer.requests().empty(); }, kWithinASecond));
  EXPECT_TRUE(korvane::testing::waitUntil(
      [&] { return dnsLog() == korvane::testing::HttpTestServer::okBody(); }, 2s));
  // The main window's next refresh (every 5 s; run here at once) shows the service's reply, as
  // far as the status bar reads the log.
  main->refreshStatusText();
  const std::string expected =
      hubCountText(library_.text(text::kHubCountLabel).toStdString(), 0) + ", DNSUpdate : " +
      korvane::testing::HttpTestServer::okBody().substr(0, common::kDnsLogReadBytes);
  EXPECT_EQ(main->window()->statusBar()->currentMessage().toStdString(), expected);
  wizard_.reset();
}

// Every page in both languages, all its labels showing: no text is cut off. With
// KORVANE_SCREENSHOT_DIR set, the pages are also saved there as wizard-LANGUAGE-NNN.png.
TEST(RegistrationWizardPages, NoTextIsCutOffInEitherLanguage) {
  const QString screenshots = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
  for (const char* language : {"english", "japanese"}) {
    SCOPED_TRACE(language);
    korvane::testing::TempProgramDir dir;
    ResourceLibrary library;
    testing::loadPack(library, dir.path(), language);
    // Every text the wizard takes by number: the messages of the errors its pages show, the
    // summary's captions, and its own few others.
    constexpr RegistrationResult kResults[] = {
        RegistrationResult::kRequestFailed,   RegistrationResult::kServiceError,
        RegistrationResult::kDomainInUse,     RegistrationResult::kFormatError,
        RegistrationResult::kReserved,        RegistrationResult::kMailNotFound,
        RegistrationResult::kTooLong,         RegistrationResult::kTooShort,
        RegistrationResult::kEmpty,           RegistrationResult::kAuthenticationFailed,
        RegistrationResult::kLoginIdInUse,    RegistrationResult::kInvalidReply,
        RegistrationResult::kPassCodeTooLong, RegistrationResult::kPickupCodeWrong,
        RegistrationResult::kLoginIdNotFound, RegistrationResult::kLoginIdMailMismatch};
    std::set<int> ids = {kDiscardQuestionText, kDiscardQuestionCaption, kSameAsOrgSummaryText,
                         kStoreFailedMessage};
    for (int page = kLoginPage; page <= kUnreachablePage; ++page) {
      for (RegistrationResult result : kResults) {
        RegistrationOutcome outcome;
        outcome.result = result;
        if (const auto display = errorDisplay(page, outcome)) {
          ids.insert(display->messageId);
        }
      }
    }
    for (std::size_t i = 0; i < kFormFieldCount; ++i) {
      ids.insert(fieldIdentifier(static_cast<FormField>(i)));
    }
    for (int id : ids) {
      EXPECT_FALSE(library.text(id).isEmpty()) << "no string " << id;
    }

    const auto pages = RegistrationWizard::framedPages(library);
    EXPECT_EQ(pages.size(), 16u);
    for (const auto& [number, frame] : pages) {
      SCOPED_TRACE(number);
      for (QLabel* label : frame->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
          label->setText(QStringLiteral("1,000,000 / myhub.vlan.example"));
        }
        label->show();
      }
      QTest::qWait(0);
      frame->adjustSize();
      for (const QLabel* label : frame->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        const int needed =
            label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_GE(label->height(), needed) << "text cut off";
        if (!label->wordWrap()) {
          EXPECT_GE(label->width(), label->sizeHint().width()) << "text cut off";
        }
      }
      for (const QPushButton* button : frame->findChildren<QPushButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_GE(button->width(), button->sizeHint().width()) << "text cut off";
      }
      if (!screenshots.isEmpty()) {
        frame->grab().save(
            QStringLiteral("%1/wizard-%2-%3.png").arg(screenshots, language).arg(number));
      }
    }
  }
}

}  // namespace
}  // namespace korvane::panel
