#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/logic/HubActions.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::fileExists;
using korvane::testing::readFile;
using korvane::testing::writeFile;

// Records the message boxes and answers the questions as told.
class RecordingView : public MessageView {
 public:
  void showMessage(int id, std::optional<int> argument) override {
    messages.push_back({id, argument});
  }
  void showFailure(const std::string& reason) override { failures.push_back(reason); }
  bool confirm(int id) override {
    messages.push_back({id, std::nullopt});
    return answer;
  }
  bool askYesNo(int id) override { return confirm(id); }

  struct Message {
    int id;
    std::optional<int> argument;
    bool operator==(const Message&) const = default;
  };
  std::vector<Message> messages;
  std::vector<std::string> failures;
  bool answer = true;
};

class HubActionsTest : public ::testing::Test {
 protected:
  HubActionsTest() { dir_.useForThisProcess(); }

  HubActions actions(std::int32_t state = 0) {
    return HubActions(
        config_, models_, [state](int) { return state; }, view_);
  }
  std::string section(int hub) const {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", hub);
    const std::string text = readFile(dir_.ini("Tollmar.ini"));
    const std::size_t start = text.find(std::string("[") + name + "]");
    return start == std::string::npos ? "" : text.substr(start, text.find("\n[", start) - start);
  }

  korvane::testing::TempProgramDir dir_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
  AccountModelCache models_{dir_.path() + "ini/"};
  RecordingView view_;
};

TEST_F(HubActionsTest, NewHubIsNamedAfterItsNumberUpToTheLimit) {
  EXPECT_EQ(actions().newHub(0, "Hub"), 1);
  EXPECT_EQ(section(1),
            "[0001]\r\nHubName=Hub_0001\r\nStatus=OFF\r\nPortNo=0\r\nAuthFlag=0\r\n"
            "MaxCon=512\r\n");
  const std::string before = readFile(dir_.ini("Tollmar.ini"));
  EXPECT_EQ(actions().newHub(kMaxPanelHubs, "Hub"), 0);
  EXPECT_EQ(view_.messages, (std::vector<RecordingView::Message>{{16, 32}}));
  EXPECT_EQ(readFile(dir_.ini("Tollmar.ini")), before) << "nothing is created at the limit";
}

TEST_F(HubActionsTest, StartNeedsAPortAndStopsAgainWhenThePortIsTaken) {
  writeFile(dir_.ini("Tollmar.ini"), "[0001]\r\nStatus=OFF\r\nPortNo=0\r\n");
  EXPECT_FALSE(actions().start(1));
  EXPECT_EQ(view_.messages, (std::vector<RecordingView::Message>{{1, std::nullopt}}));
  EXPECT_EQ(config_.readStatus(1), false);

  ASSERT_TRUE(config_.writePort(1, 7470, nullptr));
  view_.messages.clear();
  struct Case {
    const char* what;
    std::int32_t state;
    bool stoppedAgain;
  };
  for (const Case& c : {Case{"listening", 1, false}, Case{"no answer yet", 0, false},
                        Case{"port held by another program", -1, true}}) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(actions(c.state).start(1));
    EXPECT_EQ(config_.readStatus(1), true);
    EXPECT_EQ(actions(c.state).checkPortAfterStart(1), c.stoppedAgain);
    EXPECT_EQ(config_.readStatus(1), !c.stoppedAgain);
  }
  EXPECT_EQ(view_.messages, (std::vector<RecordingView::Message>{{60, std::nullopt}}));
}

TEST_F(HubActionsTest, DeleteRefusesARunningHubAsksAndRemovesEverything) {
  writeFile(dir_.ini("Tollmar.ini"), "[0001]\r\nStatus=ON\r\nPortNo=7470\r\n[0002]\r\n");
  for (const char* file : {"0001_account.ini", "0001_dhcp.ini", "0001__dhcp.leases",
                           "0001_x_dhcp.leases", "0002__dhcp.leases"}) {
    writeFile(dir_.ini(file), "");
  }
  std::string err;
  ASSERT_NE(models_.model(1, '#', &err), nullptr) << err;

  EXPECT_FALSE(actions().remove(1));
  EXPECT_EQ(view_.messages, (std::vector<RecordingView::Message>{{2, std::nullopt}}));
  ASSERT_TRUE(config_.stopHub(1, nullptr));
  view_.answer = false;
  EXPECT_FALSE(actions().remove(1));
  EXPECT_NE(section(1), "") << "Cancel keeps the hub";

  view_.answer = true;
  EXPECT_TRUE(actions().remove(1));
  EXPECT_EQ(view_.messages.back(), (RecordingView::Message{15, std::nullopt}));
  EXPECT_EQ(section(1), "");
  EXPECT_FALSE(models_.holds(1));
  for (const char* file :
       {"0001_account.ini", "0001_dhcp.ini", "0001__dhcp.leases", "0001_x_dhcp.leases"}) {
    EXPECT_FALSE(fileExists(dir_.ini(file))) << file;
  }
  EXPECT_TRUE(fileExists(dir_.ini("0002__dhcp.leases"))) << "another hub's leases stay";
  EXPECT_TRUE(view_.failures.empty());
}

}  // namespace
}  // namespace korvane::panel
