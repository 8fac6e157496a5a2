#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "panel/logic/TextFormat.h"
#include "panel/windows/AboutBox.h"
#include "panel/windows/MainWindow.h"
#include "panel/windows/Panel.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;
using korvane::testing::readFile;
using korvane::testing::waitUntil;
using korvane::testing::writeFile;

// An installation of the test's own: the programs in hub/ below the temporary folder (so that
// the help file and its packs lie in the test's folder too), with the built language packs.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : programs_(dir_.path() + "hub/") {
    std::filesystem::create_directories(programs_ + "ini");
    std::filesystem::create_directories(programs_ + "log");
    for (const char* language : {"english", "japanese"}) {
      const std::string pack = std::string("OSTREL_LANG.") + language + ".dat";
      std::filesystem::copy_file(KORVANE_BINARY_DIR + pack, programs_ + pack);
      const std::string help = std::string("kv2.") + language + ".dat";
      std::filesystem::copy_file(KORVANE_INSTALL_DIR + help, dir_.path() + help);
    }
    std::filesystem::copy_file(programs_ + "OSTREL_LANG.english.dat",
                               programs_ + "OSTREL_LANG.rcc");
    setenv("KORVANE_PROGRAM_DIR", programs_.c_str(), 1);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path()));
  }
  ~MainWindowTest() override {
    panel_.reset();
    unsetenv("KORVANE_PROGRAM_DIR");
  }

  std::string ini(const std::string& name) const { return programs_ + "ini/" + name; }

  // Starts the panel as the program does after its start-up checks.
  MainWindow& open() {
    panel_ = std::make_unique<Panel>(argc_, nullptr);
    EXPECT_TRUE(panel_->loadLibrary());
    EXPECT_TRUE(panel_->openMainWindow());
    return *panel_->mainWindow();
  }

  QString text(int id) const { return panel_->context().library.text(id); }
  QAction* action(int id) const {
    return panel_->mainWindow()->window()->findChild<QAction*>(ResourceLibrary::controlName(id));
  }
  QTreeWidget* list() const {
    return panel_->mainWindow()->window()->findChild<QTreeWidget*>(
        ResourceLibrary::controlName(1000));
  }
  void selectHub(int row) const {
    list()->setCurrentItem(list()->topLevelItem(row));
    list()->topLevelItem(row)->setSelected(true);
  }

  korvane::testing::TempProgramDir dir_;
  std::string programs_;
  int argc_ = 0;
  std::unique_ptr<Panel> panel_;
};

TEST_F(MainWindowTest, EmptyListCountsNoHubAndGreysEveryHubCommand) {
  MainWindow& window = open();
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_EQ(window.window()->statusBar()->currentMessage(), text(18) + QStringLiteral(" : 0"));
  for (const int id : {40002, 40003, 40004, 40005, 40006, 40007, 141}) {
    SCOPED_TRACE(id);
    ASSERT_NE(action(id), nullptr);
    EXPECT_FALSE(action(id)->isEnabled());
  }
  EXPECT_TRUE(action(40001)->isEnabled());
  EXPECT_EQ(list()->headerItem()->text(0), text(33));

  // The DNS update's result joins the count within the refresh period.
  writeFile(programs_ + "log/dnsupdate.log", "OK");
  EXPECT_TRUE(waitUntil(
      [&] {
        QApplication::processEvents();
        return window.window()->statusBar()->currentMessage() ==
               text(18) + QStringLiteral(" : 0, DNSUpdate : OK");
      },
      10s));
}

TEST_F(MainWindowTest, NewHubIsListedUntilTheLimitOf32) {
  open();
  testing::ModalAnswerer answerer;
  QString dialogName;
  answerer.setDialogHandler([&](QDialog& dialog) { dialogName = dialog.objectName(); });
  action(40001)->trigger();
  EXPECT_EQ(dialogName, ResourceLibrary::controlName(102)) << "the new hub's settings open";
  ASSERT_EQ(list()->topLevelItemCount(), 1);
  EXPECT_EQ(list()->topLevelItem(0)->text(0), text(5) + QStringLiteral("_0001"));
  EXPECT_TRUE(answerer.texts().empty());

  std::string file;
  for (int hub = 1; hub <= 32; ++hub) {
    char section[32];
    std::snprintf(section, sizeof section, "[%04d]\r\nHubName=h%d\r\n", hub, hub);
    file += section;
  }
  writeFile(ini("Tollmar.ini"), file);
  panel_->mainWindow()->fillList();
  action(40001)->trigger();
  ASSERT_EQ(answerer.texts().size(), 1u);
  EXPECT_EQ(answerer.texts()[0],
            QString::fromStdString(formatWithNumber(text(16).toStdString(), 32)));
  EXPECT_TRUE(answerer.texts()[0].contains(QStringLiteral("32")));
  EXPECT_EQ(answerer.captions()[0], QStringLiteral("Korvane Ostrel"));
  EXPECT_EQ(readFile(ini("Tollmar.ini")), file) << "no hub is created beyond the limit";
}

TEST_F(MainWindowTest, NewHubCancelledInItsSettingsIsGoneFromTheList) {
  open();
  testing::ModalAnswerer answerer;
  answerer.setDialogResult(QDialog::Rejected);
  action(40001)->trigger();
  EXPECT_EQ(answerer.dialogs(), 1);
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_EQ(readFile(ini("Tollmar.ini")).find("[0001]"), std::string::npos);
}

TEST_F(MainWindowTest, HubCommandsFollowTheSelectedHubsState) {
  writeFile(ini("Tollmar.ini"),
            "[0001]\r\nHubName=a\r\nStatus=OFF\r\nPortNo=7\r\n"
            "[0002]\r\nHubName=b\r\nStatus=ON\r\nPortNo=8\r\n");
  open();
  // Start, Stop, Delete, Settings, Filter, Accounts, Status.
  const int ids[] = {40002, 40003, 40004, 40005, 141, 40006, 40007};
  const struct {
    const char* hub;
    bool on[7];
  } rows[] = {
      {"a", {true, false, true, true, true, true, false}},
      {"b", {false, true, false, true, false, true, true}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.hub);
    list()->setCurrentItem(list()->findItems(QString::fromLatin1(row.hub), Qt::MatchExactly)[0]);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(action(ids[i])->isEnabled(), row.on[i]) << ids[i];
    }
  }
  EXPECT_TRUE(action(40014)->isEnabled());
}

TEST_F(MainWindowTest, AccountAndFilterWindowsOpenOncePerHubAndTheAccountsCloseOnDelete) {
  writeFile(ini("Tollmar.ini"), "[0001]\r\nHubName=Office\r\nStatus=OFF\r\nPortNo=7\r\n");
  open();
  selectHub(0);
  const auto shown = [](int dialog) {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      count += widget->isVisible() && widget->objectName() == ResourceLibrary::controlName(dialog);
    }
    return count;
  };
  for (const auto& [command, dialog, kind] : {std::tuple{40006, 109, HubWindowKind::kAccounts},
                                              std::tuple{141, 140, HubWindowKind::kFilter}}) {
    SCOPED_TRACE(dialog);
    action(command)->trigger();
    action(command)->trigger();
    EXPECT_EQ(shown(dialog), 1) << "a second open raises the first window";
    EXPECT_NE(panel_->context().registry.find(kind, 1), nullptr);
  }

  testing::ModalAnswerer answerer;
  action(40004)->trigger();  // Delete, confirmed with OK; the account window says string 14
  EXPECT_EQ(answerer.texts(), (QStringList{text(15), text(14)}));
  ASSERT_TRUE(waitUntil(
      [&] {
        QApplication::processEvents();
        return panel_->context().registry.find(HubWindowKind::kAccounts, 1) == nullptr;
      },
      5s));
  EXPECT_EQ(shown(109), 0);
}

TEST_F(MainWindowTest, RegistrationCommandOpensTheWizardOverTheWindow) {
  open();
  testing::ModalAnswerer answerer;
  QString frame;
  QWidget* parent = nullptr;
  answerer.setDialogHandler([&](QDialog& dialog) {
    frame = dialog.objectName();
    parent = dialog.parentWidget();
  });
  action(40014)->trigger();
  EXPECT_EQ(frame, ResourceLibrary::controlName(175));
  EXPECT_EQ(parent, panel_->mainWindow()->window());
}

TEST_F(MainWindowTest, StartOnAPortAnotherProgramHoldsStopsTheHubAgain) {
  korvane::testing::LoopbackServer other;  // the other program, listening on the hub's port
  ASSERT_TRUE(other.started()) << other.error();
  writeFile(ini("Tollmar.ini"),
            "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n[0001]\r\nHubName=Office\r\n"
            "Status=OFF\r\nPortNo=" +
                std::to_string(other.port()) + "\r\nAuthFlag=0\r\n");
  std::filesystem::create_symlink(korvane::testing::builtProgram("kvhub"), programs_ + "kvhub");
  korvane::testing::ChildProcess manager(korvane::testing::builtProgram("Tollmar"), {"S"},
                                         programs_, dir_.path() + "manager.txt");
  ASSERT_TRUE(
      waitUntil([&] { return std::filesystem::exists(programs_ + "pipe/KVTOLLMAR"); }, 10s));
  open();
  selectHub(0);
  ASSERT_TRUE(action(40002)->isEnabled());
  testing::ModalAnswerer answerer;
  const auto started = std::chrono::steady_clock::now();
  action(40002)->trigger();
  EXPECT_EQ(list()->topLevelItem(0)->text(3), text(39)) << "shown as running at once";
  ASSERT_TRUE(waitUntil(
      [&] {
        QApplication::processEvents();
        return !answerer.texts().empty();
      },
      20s));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_EQ(answerer.texts()[0], text(60));
  QApplication::processEvents();
  EXPECT_NE(readFile(ini("Tollmar.ini")).find("Status=OFF"), std::string::npos);
  EXPECT_EQ(list()->topLevelItem(0)->text(3), text(38));
}

TEST_F(MainWindowTest, DeleteOfARunningHubIsRefused) {
  writeFile(ini("Tollmar.ini"), "[0001]\r\nHubName=Office\r\nStatus=OFF\r\nPortNo=0\r\n");
  open();
  selectHub(0);
  ASSERT_TRUE(action(40004)->isEnabled());
  // Another program (kvctl, a second panel) switched the hub on since the list was filled.
  ASSERT_TRUE(panel_->context().config.startHub(1, nullptr));
  testing::ModalAnswerer answerer;
  action(40004)->trigger();
  ASSERT_EQ(answerer.texts().size(), 1u);
  EXPECT_EQ(answerer.texts()[0], text(2));
  EXPECT_EQ(list()->topLevelItemCount(), 1);
  EXPECT_NE(readFile(ini("Tollmar.ini")).find("[0001]"), std::string::npos);
}

// A hub window that counts what the main window tells it.
class CountingHubWindow : public HubWindow {
 public:
  void hubStopped() override { ++stopped; }
  void hubStarted() override { ++started; }
  void hubDeleted() override { ++deleted; }
  void bringToFront() override { ++raised; }
  int stopped = 0, started = 0, deleted = 0, raised = 0;
};

TEST_F(MainWindowTest, ASecondStatusRaisesTheFirstWindowAndDeleteTellsIt) {
  writeFile(ini("Tollmar.ini"), "[0001]\r\nHubName=Office\r\nStatus=ON\r\nPortNo=7\r\n");
  open();
  CountingHubWindow statusWindow;
  std::unique_ptr<HubWindowRegistration> registration;
  int opened = 0;
  panel_->setOpener(HubWindowKind::kStatus, [&](int hub) {
    ++opened;
    registration = std::make_unique<HubWindowRegistration>(
        panel_->context().registry, HubWindowKind::kStatus, hub, &statusWindow);
  });
  selectHub(0);
  ASSERT_TRUE(action(40007)->isEnabled());
  action(40007)->trigger();
  action(40007)->trigger();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(statusWindow.raised, 1);

  testing::ModalAnswerer answerer;
  action(40003)->trigger();  // Stop
  EXPECT_EQ(statusWindow.stopped, 1);
  selectHub(0);
  action(40004)->trigger();  // Delete, confirmed with OK
  EXPECT_EQ(answerer.texts(), QStringList{text(15)});
  EXPECT_EQ(statusWindow.deleted, 1);
  EXPECT_EQ(list()->topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersion) {
  open();
  testing::ModalAnswerer answerer;
  QString version;
  answerer.setDialogHandler(
      [&](QDialog& dialog) { version = ResourceLibrary::control<QLabel>(&dialog, 1100)->text(); });
  action(128)->trigger();
  EXPECT_EQ(answerer.dialogs(), 1);
  EXPECT_EQ(version, QString::fromLatin1(AboutBox::kVersionText));
}

TEST_F(MainWindowTest, LanguageSwitchRebuildsTheWindowAndAMissingPackKeepsTheFiles) {
  open();
  const QString englishHeader = list()->headerItem()->text(0);
  const QString englishMenu = panel_->mainWindow()->window()->menuBar()->actions()[0]->text();
  action(163)->trigger();
  ASSERT_TRUE(waitUntil(
      [&] {
        QApplication::processEvents();
        return panel_->mainWindow() != nullptr && list()->headerItem()->text(0) != englishHeader;
      },
      10s));
  EXPECT_NE(panel_->mainWindow()->window()->menuBar()->actions()[0]->text(), englishMenu);
  EXPECT_TRUE(panel_->mainWindow()->window()->isVisible());
  const std::string japanese = readFile(programs_ + "OSTREL_LANG.japanese.dat");
  EXPECT_EQ(readFile(programs_ + "OSTREL_LANG.rcc"), japanese);
  EXPECT_EQ(readFile(dir_.path() + "kv2.html"), readFile(dir_.path() + "kv2.japanese.dat"));

  // Without the English pack the switch keeps the Japanese files and rebuilds from them.
  std::filesystem::remove(programs_ + "OSTREL_LANG.english.dat");
  const QString japaneseHeader = list()->headerItem()->text(0);
  const MainWindow* before = panel_->mainWindow();
  action(162)->trigger();
  ASSERT_TRUE(waitUntil(
      [&] {
        QApplication::processEvents();
        return panel_->mainWindow() != before;
      },
      10s));
  EXPECT_EQ(readFile(programs_ + "OSTREL_LANG.rcc"), japanese);
  EXPECT_EQ(list()->headerItem()->text(0), japaneseHeader);
}

}  // namespace
}  // namespace korvane::panel
