#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "panel/logic/HubSettingsText.h"
#include "panel/logic/PortMappingEditor.h"
#include "tests/panel/logic/MessageLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

// A router that keeps its mappings in a set and refuses what it is told to refuse.
class FakeRouter : public PortMapper {
 public:
  bool addMapping(int port, int internalPort, std::string*) override {
    calls.push_back("add " + std::to_string(port) + ">" + std::to_string(internalPort));
    if (refuseAdd) {
      return false;
    }
    mapped.insert(port);
    return true;
  }
  common::UpnpCheck checkMapping(int port, int, std::string*) override {
    return mapped.contains(port) ? common::UpnpCheck::kMapped : common::UpnpCheck::kMissing;
  }
  bool deleteMapping(int port, std::string*) override {
    calls.push_back("delete " + std::to_string(port));
    if (!keepOnDelete) {
      mapped.erase(port);
    }
    return !keepOnDelete;
  }

  std::set<int> mapped;
  std::vector<std::string> calls;
  bool refuseAdd = false;
  bool keepOnDelete = false;
};

class PortMappingEditorTest : public ::testing::Test {
 protected:
  PortMappingEditorTest() {
    korvane::testing::writeFile(dir_.ini("Tollmar.ini"),
                                "[0002]\r\nHubName=two\r\nPortNo=7100\r\nSNATPort=8100\r\n");
  }
  PortMappingEditor editor() { return PortMappingEditor(config_, 2, 7100, router_, view_); }
  // The dialog's steps on one thread: what the router answers on opening, and after a press.
  static bool opened(PortMappingEditor& edit) { return edit.show(edit.ask(edit.opening())); }
  static bool pressed(PortMappingEditor& edit, RouterAction action, std::string_view port) {
    return edit.show(edit.ask(edit.press(action, port)));
  }
  bool set(std::string_view port) {
    PortMappingEditor edit = editor();
    return pressed(edit, RouterAction::kSet, port);
  }
  bool remove(std::string_view port) {
    PortMappingEditor edit = editor();
    return pressed(edit, RouterAction::kRemove, port);
  }

  korvane::testing::TempProgramDir dir_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
  FakeRouter router_;
  testing::MessageLog view_;
};

TEST_F(PortMappingEditorTest, SetStoresMapsAndChecks) {
  PortMappingEditor edit = editor();
  EXPECT_EQ(edit.storedPort(), 8100);
  EXPECT_FALSE(opened(edit));
  EXPECT_TRUE(pressed(edit, RouterAction::kSet, "8200"));
  EXPECT_EQ(config_.readSnatPort(2), 8200);
  EXPECT_EQ(router_.calls, std::vector<std::string>{"add 8200>7100"});
  EXPECT_TRUE(opened(edit));
  EXPECT_EQ(PortMappingEditor::statusText(true), text::kMappingSet);
  EXPECT_EQ(PortMappingEditor::statusText(false), text::kMappingNotSet);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(PortMappingEditorTest, FailuresShowTheirStringsAndKeepThePortAsTyped) {
  router_.refuseAdd = true;
  EXPECT_FALSE(set("8300"));
  EXPECT_EQ(config_.readSnatPort(2), 8300);
  router_.mapped.insert(8300);
  router_.keepOnDelete = true;
  EXPECT_TRUE(remove("8300"));
  EXPECT_EQ(view_.messages, (std::vector<int>{text::kMappingNotAdded, text::kMappingNotRemoved}));
}

TEST_F(PortMappingEditorTest, RemoveAndOk) {
  router_.mapped.insert(8100);
  EXPECT_FALSE(remove("8100"));
  EXPECT_TRUE(view_.messages.empty());
  // A port above 65535 is refused with string 73 and not stored, by OK and by the buttons.
  EXPECT_FALSE(editor().accept("65536"));
  EXPECT_FALSE(set("99999999"));
  EXPECT_EQ(view_.messages, (std::vector<int>{text::kBadPortNumber, text::kBadPortNumber}));
  EXPECT_EQ(config_.readSnatPort(2), 8100);
  EXPECT_TRUE(editor().accept("0"));
  EXPECT_EQ(config_.readSnatPort(2), 0);
  // Port 0 is no mapping: the router is not asked.
  EXPECT_FALSE(set("0"));
  EXPECT_EQ(router_.calls, std::vector<std::string>{"delete 8100"});
}

}  // namespace
}  // namespace korvane::panel
