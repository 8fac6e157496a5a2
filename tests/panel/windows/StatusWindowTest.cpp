#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <array>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "common/ControlReply.h"
#include "panel/logic/StatusWindowRules.h"
#include "panel/windows/ResourceLibrary.h"
#include "panel/windows/StatusWindow.h"
#include "platform/LocalPipe.h"
#include "tests/hub/RunningHub.h"
#include "tests/panel/windows/WindowTestSupport.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void appendLog(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

class StatusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The user's settings (sorts, placements) go to the test's own folder.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path()));
    std::string err;
    ASSERT_TRUE(library_.load(QStringLiteral(KORVANE_BINARY_DIR), &err)) << err;
    hub_.start("HubName=Office\r\nStatus=ON\r\nAuthFlag=0\r\n");
  }

  // Opens the window and waits for its first list, which shows the count label.
  void openWindow() {
    window_ = StatusWindow::create(library_, 1);
    ASSERT_NE(window_, nullptr);
    window_->show();
    list_ = window_->findChild<QTreeWidget*>(QStringLiteral("id1000"));
    pane_ = window_->findChild<QPlainTextEdit*>(QStringLiteral("id1051"));
    statusBar_ = window_->findChild<QStatusBar*>(QStringLiteral("id99999"));
    ASSERT_TRUE(list_ && pane_ && statusBar_);
    const QString label = library_.text(text::kConnectionCountLabel);
    ASSERT_FALSE(label.isEmpty());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return statusBar_->currentMessage() == label + " : 0"; }, 10000))
        << statusBar_->currentMessage().toStdString();
  }

  korvane::testing::TempProgramDir dir_;
  hub::RunningHub hub_{dir_};
  ResourceLibrary library_;
  testing::ModalAnswerer answerer_;
  std::unique_ptr<StatusWindow> window_;
  QTreeWidget* list_ = nullptr;
  QPlainTextEdit* pane_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
};

TEST_F(StatusWindowTest, ClientLoggingInAppearsWithinASecond) {
  openWindow();
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Office%1  (PortNo : %2)")
                                        .arg(library_.text(text::kStatusTitlePart))
                                        .arg(hub_.port()));
  auto client = hub_.loggedIn();
  const auto loggedIn = Clock::now();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list_->topLevelItemCount() == 1; }, 1000));
  EXPECT_LT(Clock::now() - loggedIn, 1s);
  EXPECT_EQ(list_->topLevelItem(0)->text(1), library_.text(text::kNoAccount));
  EXPECT_EQ(list_->topLevelItem(0)->text(2), QStringLiteral("-Global-"));
  EXPECT_EQ(statusBar_->currentMessage(), library_.text(text::kConnectionCountLabel) + " : 1");
  // The one who leaves is gone from the list as soon.
  client.reset();
  EXPECT_TRUE(QTest::qWaitFor([&] { return list_->topLevelItemCount() == 0; }, 2000));
}

TEST_F(StatusWindowTest, ShowsOnlyLogTextWrittenAfterOpening) {
  appendLog(dir_.log("0001_1.log"), "written before the window\r\n");
  openWindow();
  appendLog(dir_.log("0001_1.log"), "written after the window\r\n");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return pane_->toPlainText().contains("after the window"); }, 5000));
  EXPECT_FALSE(pane_->toPlainText().contains("before the window"));
  EXPECT_FALSE(pane_->toPlainText().contains("Process started"));
}

TEST_F(StatusWindowTest, LogPaneStaysBelowItsLimitAndStartsAtALine) {
  openWindow();
  std::string written;
  for (int i = 0; i < 900; ++i) {
    written += "line " + std::to_string(i) + " " + std::string(80 + i % 13, 'x') + "\n";
  }
  appendLog(dir_.log("0001_1.log"), written);
  const auto check = [&] {
    const QString text = pane_->toPlainText();
    EXPECT_LT(text.size(), 65536);
    EXPECT_TRUE(text.isEmpty() || text.startsWith("line ")) << text.left(40).toStdString();
    return text.endsWith("line 899 " + QString(80 + 899 % 13, 'x') + "\n");
  };
  EXPECT_TRUE(QTest::qWaitFor(check, 20000));
  EXPECT_GT(pane_->toPlainText().size(), 65536 - 200);
}

TEST_F(StatusWindowTest, HubStoppedClearsTheRows) {
  openWindow();
  auto client = hub_.loggedIn();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list_->topLevelItemCount() == 1; }, 2000));
  window_->hubStopped();
  EXPECT_EQ(list_->topLevelItemCount(), 0);
  ASSERT_FALSE(library_.text(text::kHubStopped).isEmpty());
  EXPECT_EQ(statusBar_->currentMessage(), library_.text(text::kHubStopped));
}

TEST_F(StatusWindowTest, HubDeletedIsToldAndTheWindowStays) {
  openWindow();
  window_->hubDeleted();
  ASSERT_EQ(answerer_.texts().size(), 1u);
  ASSERT_FALSE(library_.text(text::kHubDeleted).isEmpty());
  EXPECT_EQ(answerer_.texts()[0], library_.text(text::kHubDeleted));
  EXPECT_EQ(answerer_.captions()[0], QStringLiteral("Korvane Ostrel"));
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(StatusWindowTest, AHubSlowToAnswerNeverHoldsTheWindow) {
  // Hub 2 is a pipe that takes the list request and answers only once a timer of the window's
  // thread has fired, which it cannot while that thread waits for the answer.
  std::string err;
  std::optional<platform::PipeServer> slowHub = platform::PipeServer::create(
      common::hubPipeName(2), platform::PipeAccess::kOwnerOnly, &err);
  ASSERT_TRUE(slowHub) << err;
  auto window = StatusWindow::create(library_, 2);
  ASSERT_NE(window, nullptr);
  std::promise<void> timerFired;
  bool fired = false;
  std::thread hub([&slowHub, answer = timerFired.get_future()] {
    std::optional<platform::PipeConnection> request = slowHub->accept();
    if (!request) {
      return;
    }
    std::array<std::uint8_t, common::kControlHeaderSize> header{};
    (void)request->readFully(header, 10s);
    answer.wait();
    common::PortListEntry entry;
    entry.state = 2;
    entry.logName = "[slow] 10.0.0.9:4000";
    entry.account = "late";
    common::PortListRecordBytes record{};
    common::encodePortListRecord(entry, record);
    (void)request->writeAll(common::encodePortListReply(std::span(&record, 1)), 5s);
  });
  window->show();
  QTimer::singleShot(StatusWindow::kFirstRefreshDelay * 5, window.get(), [&] {
    fired = true;
    timerFired.set_value();
  });
  auto* list = window->findChild<QTreeWidget*>(QStringLiteral("id1000"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 1; }, 4000));
  if (!fired) {
    timerFired.set_value();
  }
  slowHub->close();
  hub.join();
}

// The bar is dragged as the user drags it; wherever it is let go, the list keeps at least 40
// pixels and the log pane (with the status bar) at least 60.
TEST_F(StatusWindowTest, SplitterStaysWithinItsLimits) {
  openWindow();
  window_->resize(700, 500);
  auto* splitter = window_->findChild<QSplitter*>();
  ASSERT_NE(splitter, nullptr);
  EXPECT_EQ(list_->height(), kSplitterStartTop);
  struct Row {
    int dropTop;  // where the bar's top is let go, in the window
    int listHeight;
  };
  const Row rows[] = {{10, kSplitterMinTop}, {300, 300}, {495, 500 - kSplitterBottomRoom}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dropTop);
    QWidget* handle = splitter->handle(1);
    const QPoint grip(handle->width() / 2, 0);
    const QPoint drop = handle->mapFrom(window_.get(), QPoint(grip.x(), row.dropTop));
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, drop);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, drop);
    EXPECT_EQ(list_->height(), row.listHeight);
  }
  // A window made lower keeps the log pane's room.
  window_->resize(700, 200);
  QApplication::processEvents();
  EXPECT_EQ(list_->height(), 200 - kSplitterBottomRoom);
}

}  // namespace
}  // namespace korvane::panel
