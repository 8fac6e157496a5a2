// The router port mapping dialog: while a router takes its time the dialog keeps working and
// cannot be ended, and against a real home router (miniupnpd in namespaces, the dialog's router
// operations on threads inside the LAN namespace, where the hub would be) it sets and removes
// the mapping.

#include <gtest/gtest.h>

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "panel/logic/HubSettingsText.h"
#include "panel/windows/PortMappingDialog.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"
#include "tests/support/UpnpTestRouter.h"

namespace korvane::panel {
namespace {

using korvane::testing::UpnpTestRouter;
using namespace std::chrono_literals;

constexpr int kHubPort = 7100;
constexpr int kExternalPort = 8100;

QString status(const PortMappingDialog& dialog) {
  return ResourceLibrary::control<QLabel>(dialog.dialog(), 1082)->text();
}

bool mappedPictureShown(const PortMappingDialog& dialog) {
  return ResourceLibrary::control<QLabel>(dialog.dialog(), 1084)->isVisible() &&
         !ResourceLibrary::control<QLabel>(dialog.dialog(), 1083)->isVisible();
}

// Keeps the window's events flowing until the dialog has the router's answer.
bool answered(const PortMappingDialog& dialog) {
  return korvane::testing::waitUntil(
      [&] {
        QApplication::processEvents();
        return !dialog.asking();
      },
      30s);
}

// A router that answers each question only when the test lets it, and refuses mappings when
// told to.
class SlowRouter : public PortMapper {
 public:
  bool addMapping(int port, int, std::string*) override {
    waitForTurn();
    std::lock_guard lock(mutex_);
    if (!refuseAdd) {
      mapped_.insert(port);
    }
    return !refuseAdd;
  }
  common::UpnpCheck checkMapping(int port, int, std::string*) override {
    waitForTurn();
    std::lock_guard lock(mutex_);
    return mapped_.contains(port) ? common::UpnpCheck::kMapped : common::UpnpCheck::kMissing;
  }
  bool deleteMapping(int port, std::string*) override {
    waitForTurn();
    std::lock_guard lock(mutex_);
    return mapped_.erase(port) == 1;
  }

  /// Lets the router answer from now on.
  void answer() {
    std::lock_guard lock(mutex_);
    answering_ = true;
    turn_.notify_all();
  }
  /// Makes the router take its time again.
  void hold() {
    std::lock_guard lock(mutex_);
    answering_ = false;
  }

  bool refuseAdd = false;

 private:
  void waitForTurn() {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [this] { return answering_; });
  }

  std::mutex mutex_;
  std::condition_variable turn_;
  bool answering_ = false;
  std::set<int> mapped_;
};

class PortMappingDialogAnswerTest : public ::testing::Test {
 protected:
  PortMappingDialogAnswerTest() {
    korvane::testing::writeFile(dir_.ini("Tollmar.ini"),
                                "[0001]\r\nHubName=lan\r\nPortNo=7100\r\nSNATPort=8100\r\n");
  }
  void SetUp() override { testing::loadPack(library_, dir_.path(), "english"); }

  QWidget* control(const PortMappingDialog& dialog, int id) const {
    return ResourceLibrary::control<QWidget>(dialog.dialog(), id);
  }

  korvane::testing::TempProgramDir dir_;
  ResourceLibrary library_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
  SlowRouter router_;
};

TEST_F(PortMappingDialogAnswerTest, KeepsWorkingButCannotBeEndedUntilTheRouterAnswers) {
  PortMappingDialog dialog(library_, config_, 1, kHubPort, router_, nullptr);
  ASSERT_NE(dialog.dialog(), nullptr);
  dialog.open();
  QApplication::processEvents();
  ASSERT_TRUE(dialog.asking());
  EXPECT_EQ(status(dialog), library_.text(text::kAskingRouter));
  for (const int id : {1081, 1085, 1086, 1, 2}) {
    EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
  }
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog.dialog(), &escape);
  EXPECT_FALSE(dialog.dialog()->close());
  EXPECT_TRUE(dialog.dialog()->isVisible());

  router_.answer();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(status(dialog), library_.text(text::kMappingNotSet));
  EXPECT_FALSE(mappedPictureShown(dialog));
  EXPECT_TRUE(control(dialog, 1085)->isEnabled());

  // Set mapping: the typed port is stored before the router is asked, and its answer shows.
  router_.hold();
  ResourceLibrary::control<QLineEdit>(dialog.dialog(), 1081)->setText(QStringLiteral("8200"));
  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1085)->click();
  EXPECT_EQ(config_.readSnatPort(1), 8200);
  EXPECT_EQ(status(dialog), library_.text(text::kAskingRouter));
  router_.answer();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(status(dialog), library_.text(text::kMappingSet));
  EXPECT_TRUE(mappedPictureShown(dialog));
  EXPECT_TRUE(dialog.dialog()->close());
}

TEST_F(PortMappingDialogAnswerTest, ARefusedMappingIsToldWhenTheAnswerComes) {
  router_.refuseAdd = true;
  router_.answer();
  PortMappingDialog dialog(library_, config_, 1, kHubPort, router_, nullptr);
  dialog.open();
  ASSERT_TRUE(answered(dialog));
  testing::ModalAnswerer answers;
  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1085)->click();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(answers.texts(), QStringList{library_.text(text::kMappingNotAdded)});
  EXPECT_EQ(status(dialog), library_.text(text::kMappingNotSet));
  // A refused port asks nothing new of the router and keeps the stored one.
  ResourceLibrary::control<QLineEdit>(dialog.dialog(), 1081)->setText(QStringLiteral("70000"));
  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1085)->click();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(answers.texts().size(), 2);
  EXPECT_EQ(answers.texts().back(), library_.text(text::kBadPortNumber));
  EXPECT_EQ(config_.readSnatPort(1), 8100);
}

// The UPnP client, each operation on a thread of its own inside `lan`.
class NamespaceMapper : public PortMapper {
 public:
  explicit NamespaceMapper(const korvane::testing::NetworkNamespace& lan) : lan_(lan) {}

  bool addMapping(int port, int internalPort, std::string* err) override {
    bool done = false;
    inLan([&](common::UpnpClient& client) { done = client.addMapping(port, internalPort, err); },
          err);
    return done;
  }
  common::UpnpCheck checkMapping(int port, int internalPort, std::string* err) override {
    common::UpnpCheck check = common::UpnpCheck::kFailed;
    inLan([&](common::UpnpClient& client) { check = client.checkMapping(port, internalPort, err); },
          err);
    return check;
  }
  bool deleteMapping(int port, std::string* err) override {
    bool done = false;
    inLan([&](common::UpnpClient& client) { done = client.deleteMapping(port, err); }, err);
    return done;
  }

 private:
  void inLan(const std::function<void(common::UpnpClient&)>& operation, std::string* err) {
    std::thread worker([&] {
      if (lan_.enterOnThisThread(err)) {
        common::UpnpClient client;
        operation(client);
      }
    });
    worker.join();
  }
  const korvane::testing::NetworkNamespace& lan_;
};

class PortMappingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = UpnpTestRouter::skipReason(); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string err;
    ASSERT_TRUE(net_.link(&err)) << err;
    ASSERT_TRUE(net_.start(dir_.path(), false, &err)) << err;
    testing::loadPack(library_, dir_.path(), "english");
    korvane::testing::writeFile(dir_.ini("Tollmar.ini"),
                                "[0001]\r\nHubName=lan\r\nPortNo=7100\r\nSNATPort=0\r\n");
  }

  korvane::testing::TempProgramDir dir_;
  UpnpTestRouter net_;
  ResourceLibrary library_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
};

TEST_F(PortMappingDialogTest, SetMappingShowsAlreadySetAndRemoveClearsIt) {
  NamespaceMapper mapper(net_.lan());
  PortMappingDialog dialog(library_, config_, 1, kHubPort, mapper, nullptr);
  ASSERT_NE(dialog.dialog(), nullptr);
  dialog.open();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(status(dialog), library_.text(74));
  EXPECT_FALSE(mappedPictureShown(dialog));
  EXPECT_EQ(ResourceLibrary::control<QLabel>(dialog.dialog(), 1079)->text(), "7100");

  ResourceLibrary::control<QLineEdit>(dialog.dialog(), 1081)
      ->setText(QString::number(kExternalPort));
  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1085)->click();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(status(dialog), QStringLiteral("Already set"));
  EXPECT_TRUE(mappedPictureShown(dialog));
  EXPECT_EQ(config_.readSnatPort(1), kExternalPort);

  // Opened again, the dialog finds the mapping of the stored port.
  PortMappingDialog again(library_, config_, 1, kHubPort, mapper, nullptr);
  again.open();
  ASSERT_TRUE(answered(again));
  EXPECT_EQ(status(again), QStringLiteral("Already set"));

  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1086)->click();
  ASSERT_TRUE(answered(dialog));
  EXPECT_EQ(status(dialog), library_.text(74));
  EXPECT_FALSE(mappedPictureShown(dialog));
}

}  // namespace
}  // namespace korvane::panel
