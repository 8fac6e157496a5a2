#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "panel/logic/HubSettingsText.h"
#include "panel/windows/HubSettingsDialog.h"
#include "panel/windows/KeyGeneratorDialog.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::writeFile;

class HubSettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installLanguage("english");
    writeFile(dir_.ini("Tollmar.ini"),
              "[0001]\r\nHubName=one\r\nStatus=OFF\r\nPortNo=7000\r\nAuthFlag=1\r\nMaxCon=100\r\n"
              "[0002]\r\nHubName=two\r\nStatus=OFF\r\nPortNo=0\r\nAuthFlag=0\r\nMaxCon=512\r\n");
  }

  void installLanguage(const char* language) { testing::loadPack(library_, dir_.path(), language); }

  std::unique_ptr<HubSettingsDialog> open(int hub, bool newHub = false) {
    auto dialog =
        std::make_unique<HubSettingsDialog>(library_, config_, models_, hub, newHub, nullptr);
    EXPECT_NE(dialog->dialog(), nullptr);
    dialog->editor().setRouter([](int, std::string*) { return true; });
    dialog->editor().setReloader([](int, std::string*) { return HubDelivery::kHubNotRunning; });
    dialog->open();
    return dialog;
  }

  template <class T>
  static T* control(const HubSettingsDialog& dialog, int id) {
    T* found = ResourceLibrary::control<T>(dialog.dialog(), id);
    EXPECT_NE(found, nullptr) << id;
    return found;
  }
  static void type(const HubSettingsDialog& dialog, int id, const QString& text) {
    control<QLineEdit>(dialog, id)->setText(text);
  }
  static void click(const HubSettingsDialog& dialog, int id) {
    control<QPushButton>(dialog, id)->click();
  }

  korvane::testing::TempProgramDir dir_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
  AccountModelCache models_{dir_.path() + "ini/"};
  ResourceLibrary library_;
};

TEST_F(HubSettingsDialogTest, NewHubCancelledIsGoneFromTheFile) {
  std::string err;
  const int hub = config_.createHub("Hub_0003", &err);
  ASSERT_EQ(hub, 3) << err;
  auto dialog = open(hub, true);
  EXPECT_EQ(control<QLineEdit>(*dialog, 1003)->text(), QStringLiteral("Hub_0003"));
  click(*dialog, 2);
  EXPECT_FALSE(dialog->dialog()->isVisible());
  EXPECT_EQ(config_.listHubs(), (std::vector<int>{1, 2}));
  EXPECT_EQ(readFile(dir_.ini("Tollmar.ini")).find("[0003]"), std::string::npos);

  // An existing hub stays when its dialog is cancelled.
  auto existing = open(2);
  click(*existing, 2);
  EXPECT_EQ(config_.listHubs(), (std::vector<int>{1, 2}));
}

TEST_F(HubSettingsDialogTest, FieldsAreCorrectedWhenTheyLoseTheFocus) {
  auto dialog = open(1);
  QDialog* window = dialog->dialog();
  QApplication::setActiveWindow(window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  control<QRadioButton>(*dialog, 1098)->setChecked(true);
  const auto leave = [&](int id, const QString& text) {
    QLineEdit* edit = control<QLineEdit>(*dialog, id);
    edit->setFocus();
    edit->setText(text);
    control<QLineEdit>(*dialog, 1003)->setFocus();
    QApplication::processEvents();
  };
  const struct {
    int id;
    const char* typed;
    int shownId;
    const char* shown;
  } rows[] = {
      {1040, "24", 1040, "23"},
      {1040, "7", 1040, "7"},
      {1042, "75", 1042, "59"},
      {1090, "500", 1090, "120"},
      {1030, "10.1.2.3", 1029, "255.0.0.0"},
      {1030, "172.16.0.1", 1029, "255.255.0.0"},
      {1030, "192.168.0.1", 1029, "255.255.255.0"},
      {1030, "224.0.0.1", 1029, "255.255.255.0"},  // the mask stays as it was
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    leave(row.id, QString::fromLatin1(row.typed));
    EXPECT_EQ(control<QLineEdit>(*dialog, row.shownId)->text(), QString::fromLatin1(row.shown));
  }
}

TEST_F(HubSettingsDialogTest, LeaseOfOneDayTwoHoursThreeMinutesIsStoredInSeconds) {
  auto dialog = open(1);
  control<QRadioButton>(*dialog, 1098)->setChecked(true);
  type(*dialog, 1039, "1");
  type(*dialog, 1040, "2");
  type(*dialog, 1042, "3");
  testing::ModalAnswerer answerer;
  click(*dialog, 1);
  EXPECT_TRUE(answerer.texts().isEmpty()) << answerer.texts().join('\n').toStdString();
  EXPECT_EQ(dialog->dialog()->result(), QDialog::Accepted);
  const std::string dhcp = readFile(dir_.ini("0001_dhcp.ini"));
  EXPECT_NE(dhcp.find("[DHCP]\r\nDHCPFlag=TRUE\r\n"), std::string::npos) << dhcp;
  EXPECT_NE(dhcp.find("ReaseTime=93780\r\n"), std::string::npos) << dhcp;
}

TEST_F(HubSettingsDialogTest, OkRefusesWithTheStringOfTheFirstFailingCheck) {
  const struct {
    const char* what;
    int id;
    const char* typed;
    int refusal;  // 0: accepted
  } rows[] = {
      {"max 0", 1074, "0", text::kBadMaxConnections},
      {"max 513", 1074, "513", text::kBadMaxConnections},
      {"31-digit key", 1036, "0123456789ABCDEF0123456789ABCDE", text::kBadKey},
      {"lower-case key", 1036, "0123456789abcdef0123456789ABCDEF", text::kBadKey},
      {"name of hub 1", 1003, "one", text::kHubNameTaken},
      {"port of hub 1", 1004, "7000", text::kHubPortTaken},
      {"port 0 like hub 1... of hub 2", 1004, "0", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto dialog = open(2);
    type(*dialog, row.id, QString::fromLatin1(row.typed));
    testing::ModalAnswerer answerer;
    click(*dialog, 1);
    if (row.refusal == 0) {
      EXPECT_TRUE(answerer.texts().isEmpty());
      EXPECT_EQ(dialog->dialog()->result(), QDialog::Accepted);
      continue;
    }
    ASSERT_EQ(answerer.texts().size(), 1);
    EXPECT_EQ(answerer.texts()[0], library_.text(row.refusal));
    EXPECT_EQ(answerer.captions()[0], QStringLiteral("Korvane Ostrel"));
    EXPECT_TRUE(dialog->dialog()->isVisible()) << "the dialog stays open";
    dialog->dialog()->hide();
  }
}

TEST_F(HubSettingsDialogTest, ControlsFollowTheHubStateAndTheDhcpOption) {
  ASSERT_TRUE(config_.startHub(1, nullptr) || config_.readStatus(1).value_or(false));
  auto running = open(1);
  EXPECT_FALSE(control<QLineEdit>(*running, 1004)->isEnabled());
  EXPECT_FALSE(control<QRadioButton>(*running, 1008)->isEnabled());
  EXPECT_TRUE(control<QLineEdit>(*running, 1003)->isEnabled());
  auto stopped = open(2);
  EXPECT_TRUE(control<QLineEdit>(*stopped, 1004)->isEnabled());
  EXPECT_TRUE(control<QLabel>(*stopped, 1019)->isVisible()) << "authentication off";
  EXPECT_FALSE(control<QLabel>(*stopped, 1018)->isVisible());
  const struct {
    int option;
    bool range;
    bool key;
  } rows[] = {{1096, false, false}, {1095, false, true}, {1098, true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.option);
    control<QRadioButton>(*stopped, row.option)->setChecked(true);
    EXPECT_EQ(control<QLineEdit>(*stopped, 1030)->isEnabled(), row.range);
    EXPECT_EQ(control<QLineEdit>(*stopped, 1040)->isEnabled(), row.range);
    EXPECT_EQ(control<QLineEdit>(*stopped, 1036)->isEnabled(), row.key);
  }
}

TEST_F(HubSettingsDialogTest, KeyGeneratorFillsTheKeyField) {
  auto dialog = open(2);
  control<QRadioButton>(*dialog, 1098)->setChecked(true);
  testing::ModalAnswerer answerer;
  answerer.setDialogHandler([](QDialog& generator) {
    ResourceLibrary::control<QLineEdit>(&generator, 1023)->setText(QStringLiteral("abc"));
    ResourceLibrary::control<QPushButton>(&generator, 1)->click();
  });
  click(*dialog, 1025);
  EXPECT_EQ(control<QLineEdit>(*dialog, 1036)->text(),
            QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
}

// Every label, button and option is at least as wide as its text needs, in both languages; with
// KORVANE_SCREENSHOT_DIR set the dialogs are also saved as PNG files there to be looked at.
TEST_F(HubSettingsDialogTest, NoTextIsCutOffInEitherLanguage) {
  for (const char* language : {"english", "japanese"}) {
    SCOPED_TRACE(language);
    installLanguage(language);
    std::vector<std::pair<QString, std::unique_ptr<QWidget>>> dialogs;
    auto settings =
        std::make_unique<HubSettingsDialog>(library_, config_, models_, 1, false, nullptr);
    settings->open();
    for (const int id : {135, 155}) {
      dialogs.emplace_back(QString::number(id), library_.dialog(id));
      dialogs.back().second->show();
    }
    QWidget* settingsWidget = settings->dialog();
    std::vector<QWidget*> shown = {settingsWidget};
    for (auto& entry : dialogs) {
      shown.push_back(entry.second.get());
    }
    for (QWidget* window : shown) {
      QApplication::processEvents();
      for (QWidget* child : window->findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(child);
        const bool wraps = label != nullptr && label->wordWrap();
        const bool hasText = label != nullptr || qobject_cast<QPushButton*>(child) != nullptr ||
                             qobject_cast<QRadioButton*>(child) != nullptr;
        if (!hasText || wraps || !child->isVisible()) {
          continue;
        }
        EXPECT_GE(child->width(), child->sizeHint().width()) << child->objectName().toStdString();
      }
      if (const QByteArray folder = qgetenv("KORVANE_SCREENSHOT_DIR"); !folder.isEmpty()) {
        window->grab().save(QString::fromUtf8(folder) + "/" + window->objectName() + "-" +
                            language + ".png");
      }
    }
  }
}

}  // namespace
}  // namespace korvane::panel
