// The account and filter windows driven as a user drives them, against a hub of the test's own:
// what the windows write and the commands they send reach the hub.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <deque>
#include <functional>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/TextFormat.h"
#include "panel/windows/AccountWindow.h"
#include "panel/windows/FilterWindow.h"
#include "tests/hub/RunningHub.h"
#include "tests/panel/windows/WindowTestSupport.h"

namespace korvane::panel {
namespace {

using korvane::testing::TempProgramDir;

// No modal box of these tests waits longer for its answer.
constexpr std::chrono::seconds kAnswerLimit{20};

// Answers the modal windows that open, one answer each in the order given, and records the
// texts of the message boxes. A box left without an answer when the limit passes is rejected
// and the test fails, so a test never hangs.
class ModalAnswers {
 public:
  using Answer = std::function<void(QWidget*)>;

  ModalAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
    started_.start();
  }

  void then(Answer answer) { answers_.push_back(std::move(answer)); }

  /// Clicks the message box's `button` and records its text.
  void box(QMessageBox::StandardButton button) {
    then([this, button](QWidget* widget) {
      auto* message = qobject_cast<QMessageBox*>(widget);
      ASSERT_NE(message, nullptr) << "expected a message box";
      texts_ << message->text();
      captions_ << message->windowTitle();
      message->button(button)->click();
    });
  }

  const QStringList& texts() const { return texts_; }
  const QStringList& captions() const { return captions_; }
  bool allAnswered() const { return answers_.empty(); }

 private:
  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (answers_.empty()) {
      return;
    }
    if (started_.elapsed() > std::chrono::milliseconds(kAnswerLimit).count()) {
      ADD_FAILURE() << "a modal window was left without an answer";
      if (modal != nullptr) {
        modal->close();
      }
      return;
    }
    if (modal == nullptr || modal == answered_) {
      return;
    }
    answered_ = modal;
    // Answered after this timer's turn: an answer may open a nested modal box, which this
    // timer must be free to answer in turn.
    QTimer::singleShot(0, modal, [modal, answer = std::move(answers_.front())] { answer(modal); });
    answers_.pop_front();
  }

  QTimer timer_;
  QElapsedTimer started_;
  std::deque<Answer> answers_;
  QPointer<QWidget> answered_;
  QStringList texts_;
  QStringList captions_;
};

void type(QWidget* dialog, int id, const QString& text) {
  auto* edit = ResourceLibrary::control<QLineEdit>(dialog, id);
  ASSERT_NE(edit, nullptr);
  edit->setText(text);
}

void click(QWidget* dialog, int id) {
  auto* button = ResourceLibrary::control<QAbstractButton>(dialog, id);
  ASSERT_NE(button, nullptr);
  button->click();
}

void pressOk(QWidget* dialog) {
  auto* buttons = ResourceLibrary::control<QDialogButtonBox>(dialog, 1);
  ASSERT_NE(buttons, nullptr);
  buttons->button(QDialogButtonBox::Ok)->click();
}

class EditWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path()));
    testing::loadPack(library_, dir_.path(), "english");
  }

  void startHub(const std::vector<hub::TestAccount>& accounts = {}) {
    hub_.start("HubName=Office\r\nAuthFlag=1\r\n", accounts);
  }

  std::unique_ptr<AccountWindow> accountWindow() {
    auto window = std::make_unique<AccountWindow>(library_, config_, models_, 1);
    EXPECT_NE(window->window(), nullptr);
    return window;
  }

  void select(const HubListWindow& window, const QString& name) {
    QTreeWidget* list = window.window()->findChild<QTreeWidget*>(QStringLiteral("id1000"));
    const QList<QTreeWidgetItem*> found = list->findItems(name, Qt::MatchExactly, 0);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    list->setCurrentItem(found.first());
  }

  std::string accountFile() const {
    return korvane::testing::readFile(dir_.ini("0001_account.ini"));
  }

  TempProgramDir dir_;
  hub::RunningHub hub_{dir_};
  ResourceLibrary library_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini")};
  AccountModelCache models_{dir_.path() + "ini/"};
};

TEST_F(EditWindowTest, AccountAddedInTheDialogLogsIn) {
  startHub();
  auto window = accountWindow();
  // The menu bar's one menu, which is also the list's context menu, holds the commands.
  const QList<QAction*> menus = window->window()->menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  ASSERT_NE(menus[0]->menu(), nullptr);
  EXPECT_TRUE(menus[0]->menu()->actions().contains(window->command(112)));
  ModalAnswers answers;
  answers.then([](QWidget* dialog) {
    type(dialog, 1021, QStringLiteral("alice"));
    type(dialog, 1007, QStringLiteral("secret"));
    type(dialog, 1010, QStringLiteral("secret"));
    pressOk(dialog);
  });
  window->command(112)->trigger();
  EXPECT_TRUE(answers.allAnswered());

  // The hub read the file on command 2, so the new account logs in at once.
  auto client = hub_.loggedIn(common::Credentials{"alice", "secret"});
  EXPECT_TRUE(client->isConnected());
  QTreeWidget* list = window->window()->findChild<QTreeWidget*>(QStringLiteral("id1000"));
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("-Global-"));
  EXPECT_EQ(window->window()->statusBar()->currentMessage(), QStringLiteral("Accounts : 1"));
}

TEST_F(EditWindowTest, LockWithOkCutsTheAccountsClient) {
  startHub({{"alice", "secret"}});
  auto client = hub_.loggedIn(common::Credentials{"alice", "secret"});
  auto window = accountWindow();
  select(*window, QStringLiteral("alice"));
  EXPECT_TRUE(window->command(114)->isEnabled());
  EXPECT_FALSE(window->command(113)->isEnabled());
  ModalAnswers answers;
  answers.box(QMessageBox::Ok);
  window->command(114)->trigger();
  ASSERT_EQ(answers.texts().size(), 1);
  EXPECT_EQ(answers.texts()[0], library_.text(31));

  // Command 5: the hub checks its clients against the locked account and cuts this one.
  const bool cut = korvane::testing::waitUntil(
      [&] {
        common::ReceivedRecord record;
        std::string err;
        const auto result = client->receiveRecord(&record, std::chrono::milliseconds(200), &err);
        return result == common::ReceiveResult::kClosed || result == common::ReceiveResult::kFailed;
      },
      std::chrono::seconds(10));
  EXPECT_TRUE(cut);
  EXPECT_TRUE(window->command(113)->isEnabled()) << "the locked account may be unlocked";
}

TEST_F(EditWindowTest, ThousandAndFirstAccountIsRefused) {
  std::vector<common::AccountRecord> accounts(kMaxAccounts);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const std::string name = "user" + std::to_string(i);
    accounts[i].name.assign(name.begin(), name.end());
    accounts[i].password = u"pw";
  }
  std::string err;
  const auto file = common::formatAccountFile(accounts, &err);
  ASSERT_TRUE(file) << err;
  startHub();
  korvane::testing::writeFile(dir_.ini("0001_account.ini"), *file);
  auto window = accountWindow();
  ModalAnswers answers;
  answers.box(QMessageBox::Ok);
  window->command(112)->trigger();
  ASSERT_EQ(answers.texts().size(), 1);
  EXPECT_EQ(answers.texts()[0],
            QString::fromStdString(formatWithNumber(library_.text(25).toStdString(), 1000)));
  EXPECT_TRUE(answers.texts()[0].contains(QStringLiteral("1000")));
  EXPECT_EQ(answers.captions()[0], QStringLiteral("Korvane Ostrel"));
  EXPECT_EQ(accountFile(), *file);

  // Deleting the hub closes its window after string 14.
  bool closed = false;
  window->onClosed = [&closed] { closed = true; };
  window->show();
  answers.box(QMessageBox::Ok);
  window->hubDeleted();
  ASSERT_EQ(answers.texts().size(), 2);
  EXPECT_EQ(answers.texts()[1], library_.text(14));
  EXPECT_TRUE(korvane::testing::waitUntil(
      [&] {
        QApplication::processEvents();
        return closed;
      },
      std::chrono::seconds(5)));
}

TEST_F(EditWindowTest, RuleAddedInTheFilterWindowRefusesTheNextConnection) {
  startHub({{"alice", "secret"}});
  hub_.loggedIn(common::Credentials{"alice", "secret"});  // admitted before the rule
  FilterWindow window(library_, dir_.path() + "ini/", 1, QStringLiteral("Office"), hub_.port());
  ASSERT_NE(window.window(), nullptr);
  EXPECT_FALSE(window.command(147)->isEnabled()) << "nothing selected";
  ModalAnswers answers;
  answers.then([](QWidget* dialog) {
    type(dialog, 1061, QStringLiteral("loopback"));
    click(dialog, 1063);
    type(dialog, 1057, QStringLiteral("127.0.0.0"));
    type(dialog, 1058, QStringLiteral("255.0.0.0"));
    EXPECT_FALSE(ResourceLibrary::control<QWidget>(dialog, 1062)->isEnabled());
    EXPECT_TRUE(ResourceLibrary::control<QWidget>(dialog, 1071)->isVisibleTo(dialog));
    EXPECT_FALSE(ResourceLibrary::control<QWidget>(dialog, 1070)->isVisibleTo(dialog));
    pressOk(dialog);
  });
  window.command(143)->trigger();
  ASSERT_TRUE(answers.allAnswered());
  QTreeWidget* list = window.window()->findChild<QTreeWidget*>(QStringLiteral("id1000"));
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("127.0.0.0 / 255.0.0.0"));

  // Command 7 made the hub read the rule: the next client from that address is refused.
  auto client = hub_.connect();
  std::string err;
  EXPECT_NE(
      client->login(true, common::Credentials{"alice", "secret"}, hub::RunningHub::kLimit, &err),
      common::LoginResult::kAccepted);
  EXPECT_TRUE(hub_.waitForLog("CONNECTION REJECTED by filter"));

  // The same name again is refused with string 67, and the file stays as it is.
  const std::string before = korvane::testing::readFile(dir_.ini("0001_hosts.ini"));
  ModalAnswers& again = answers;
  again.then([](QWidget* dialog) {
    type(dialog, 1061, QStringLiteral("LOOPBACK"));
    type(dialog, 1062, QStringLiteral("a.example"));
    pressOk(dialog);
  });
  again.box(QMessageBox::Ok);
  again.then([](QWidget* dialog) { dialog->close(); });
  window.command(143)->trigger();
  ASSERT_EQ(again.texts().size(), 1);
  EXPECT_EQ(again.texts()[0], library_.text(67));
  EXPECT_TRUE(again.allAnswered());
  EXPECT_EQ(korvane::testing::readFile(dir_.ini("0001_hosts.ini")), before);
}

}  // namespace
}  // namespace korvane::panel
