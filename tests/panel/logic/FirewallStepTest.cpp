#include <gtest/gtest.h>

#include "panel/logic/FirewallStep.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::writeFile;

TEST(FirewallStep, PortsToOpenAreTheHubsPortsNoTcpEntryCovers) {
  const std::vector<ZonePort> open = {{"7470", "tcp"}, {"8000-8010", "tcp"}, {"9000", "udp"}};
  struct Row {
    std::vector<int> hubPorts;
    std::vector<int> expected;
  };
  const Row rows[] = {
      {{7470, 8000, 8005, 8010}, {}},
      {{0, 0}, {}},                        // a port not set is no port
      {{9000, 7471, 9000}, {9000, 7471}},  // a UDP entry does not open TCP; each port once
      {{7999, 8011}, {7999, 8011}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.hubPorts));
    EXPECT_EQ(portsToOpen(row.hubPorts, open), row.expected);
  }
}

class FakeFirewall : public Firewall {
 public:
  std::optional<std::vector<ZonePort>> openPorts() override {
    if (!running) {
      return std::nullopt;
    }
    return zone;
  }
  bool openTcpPort(int port, int* step) override {
    opened.push_back(port);
    *step = 354;
    return !failing;
  }
  bool running = true;
  bool failing = false;
  std::vector<ZonePort> zone = {{"7470", "tcp"}};
  std::vector<int> opened;
};

class AnsweringView : public MessageView {
 public:
  void showMessage(int id, std::optional<int> argument) override {
    shown.push_back(std::to_string(id) + (argument ? " " + std::to_string(*argument) : ""));
  }
  void showFailure(const std::string& reason) override { shown.push_back(reason); }
  bool confirm(int id) override { return askYesNo(id); }
  bool askYesNo(int id) override {
    shown.push_back(std::to_string(id) + "?");
    return yes;
  }
  bool yes = true;
  std::vector<std::string> shown;
};

TEST(FirewallStep, AsksOnceForClosedPortsAndRemembersTheAnswer) {
  struct Case {
    const char* what;
    const char* autoSetting;  // nullptr: no key
    bool running;
    bool yes;
    bool failing;
    std::vector<std::string> shown;
    std::vector<int> opened;
    const char* autoSettingAfter;
  };
  const Case cases[] = {
      {"no firewall: nothing, silently", nullptr, false, true, false, {}, {}, nullptr},
      {"switched off: nothing", "off", true, true, false, {}, {}, "off"},
      {"yes opens the closed ports", nullptr, true, true, false, {"100?"}, {5555, 6666}, "on"},
      {"no is remembered", "on", true, false, false, {"100?"}, {}, "off"},
      {"a failure names its step", nullptr, true, true, true, {"100?", "101 354"}, {5555}, "on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    korvane::testing::TempProgramDir dir;
    std::string file =
        "[0001]\r\nPortNo=7470\r\n[0002]\r\nPortNo=5555\r\n[0003]\r\nPortNo=6666\r\n";
    if (c.autoSetting != nullptr) {
      file += std::string("[FIREWALL]\r\nAutoSetting=") + c.autoSetting + "\r\n";
    }
    writeFile(dir.ini("Tollmar.ini"), file);
    common::ManagerConfig config(dir.ini("Tollmar.ini"));
    FakeFirewall firewall;
    firewall.running = c.running;
    firewall.failing = c.failing;
    AnsweringView view;
    view.yes = c.yes;
    runFirewallStep(config, firewall, view);
    EXPECT_EQ(view.shown, c.shown);
    EXPECT_EQ(firewall.opened, c.opened);
    const std::string after = readFile(dir.ini("Tollmar.ini"));
    if (c.autoSettingAfter == nullptr) {
      EXPECT_EQ(after, file);
    } else {
      EXPECT_NE(after.find(std::string("AutoSetting=") + c.autoSettingAfter), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace korvane::panel
