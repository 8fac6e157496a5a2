#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hub/HostFilter.h"
#include "panel/logic/FilterModel.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

constexpr int kHub = 1;

FilterRule addressRule(std::string name, Ipv4Address address, Ipv4Address mask, bool allow) {
  FilterRule rule;
  rule.name = std::move(name);
  rule.kind = FilterRuleKind::kAddress;
  rule.address = address;
  rule.mask = mask;
  rule.allow = allow;
  return rule;
}

FilterRule hostRule(std::string name, std::string hostName, bool allow) {
  FilterRule rule;
  rule.name = std::move(name);
  rule.kind = FilterRuleKind::kHostName;
  rule.hostName = std::move(hostName);
  rule.allow = allow;
  return rule;
}

std::vector<std::string> namesOf(const FilterModel& model) {
  std::vector<std::string> names;
  for (const FilterRule& rule : model.rules()) {
    names.push_back(rule.name);
  }
  return names;
}

class FilterModelTest : public ::testing::Test {
 protected:
  std::string iniDirectory() const { return dir_.path() + "ini/"; }
  std::string filterFile() const { return dir_.ini("0001_hosts.ini"); }

  FilterModel openModel() {
    std::string err;
    std::optional<FilterModel> model = FilterModel::open(iniDirectory(), kHub, &err);
    EXPECT_TRUE(model.has_value()) << err;
    return std::move(model).value();
  }

  void add(FilterModel& model, FilterRule rule) {
    std::string err;
    ASSERT_TRUE(model.add(std::move(rule), &err)) << err;
  }

  void save(FilterModel& model) {
    std::string err;
    ASSERT_TRUE(model.save(&err)) << err;
  }

  // The hub's decision for a client, with the name of the deciding rule.
  std::pair<bool, std::string> hubDecision(const Ipv4Address& address,
                                           std::string_view hostName) const {
    const hub::HostFilter filter(iniDirectory(), kHub);
    const std::optional<hub::FilterDecision> decision = filter.checkAddress(address, hostName);
    EXPECT_TRUE(decision.has_value());
    if (!decision) {
      return {false, "no decision"};
    }
    return {decision->allowed, decision->reason};
  }

  TempProgramDir dir_;
};

TEST_F(FilterModelTest, SaveWritesTheHubsFormat) {
  FilterModel model = openModel();
  add(model, addressRule("office", {192, 168, 1, 0}, {255, 255, 255, 0}, true));
  add(model, hostRule("bad guys", "example", false));
  save(model);
  EXPECT_EQ(readFile(filterFile()),
            "[office]\r\nIPADDRESS=192.168.1.0\r\nMASK=255.255.255.0\r\nALLOW=TRUE\r\n"
            "[bad guys]\r\nHOSTNAME=example\r\nALLOW=FALSE\r\n");
  EXPECT_EQ(common::formatIpv4Address({192, 168, 1, 0}) + " / " +
                common::formatIpv4Address({255, 255, 255, 0}),
            "192.168.1.0 / 255.255.255.0");
}

TEST_F(FilterModelTest, HubAppliesTheRulesInTheOrderThePanelSaved) {
  FilterModel model = openModel();
  add(model, addressRule("deny-all", {0, 0, 0, 0}, {0, 0, 0, 0}, false));
  add(model, addressRule("office", {192, 168, 1, 0}, {255, 255, 255, 0}, true));
  save(model);
  EXPECT_EQ(hubDecision({192, 168, 1, 7}, "LAN"), std::pair(true, std::string("office")));
  EXPECT_EQ(hubDecision({10, 0, 0, 1}, "x.example.net"), std::pair(false, std::string("deny-all")));

  std::string err;
  ASSERT_TRUE(model.moveUp("office", &err)) << err;
  save(model);
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"office", "deny-all"}));
  EXPECT_EQ(hubDecision({192, 168, 1, 7}, "LAN"), std::pair(false, std::string("deny-all")));

  ASSERT_TRUE(model.moveDown("office", &err)) << err;
  save(model);
  EXPECT_EQ(hubDecision({192, 168, 1, 7}, "LAN"), std::pair(true, std::string("office")));
}

TEST_F(FilterModelTest, HostNameRulesReachTheHub) {
  FilterModel model = openModel();
  const std::string longHost = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";  // 40 characters
  add(model, hostRule("example", "example", false));
  add(model, hostRule("long", longHost, true));
  save(model);
  EXPECT_EQ(hubDecision({10, 0, 0, 1}, "host.example.net"),
            std::pair(false, std::string("example")));
  EXPECT_EQ(hubDecision({10, 0, 0, 1}, "HOST.EXAMPLE.NET"), std::pair(true, std::string()));
  // The panel keeps the whole host name; the hub compares its first 31 characters.
  EXPECT_EQ(openModel().find("long")->hostName, longHost);
  EXPECT_EQ(hubDecision({10, 0, 0, 1}, "x" + longHost.substr(0, 31) + "y"),
            std::pair(true, std::string("long")));
}

TEST_F(FilterModelTest, ReloadGivesWhatWasSaved) {
  FilterModel model = openModel();
  add(model, addressRule("one", {10, 1, 2, 3}, {255, 0, 255, 0}, true));
  add(model, hostRule("two", std::string(128, 'h'), false));
  add(model, hostRule(std::string(128, 'n'), "\xC3\xA9t\xC3\xA9 h=st", true));
  save(model);
  EXPECT_EQ(openModel().rules(), model.rules());
}

TEST_F(FilterModelTest, RefusesRulesThatCannotBeSaved) {
  FilterModel model = openModel();
  add(model, hostRule("Office", "office.example", true));
  save(model);
  const std::string before = readFile(filterFile());
  struct Row {
    const char* what;
    FilterRule rule;
    const char* messagePart;
  };
  const Row rows[] = {
      {"taken name", hostRule("Office", "x", true), "exists already"},
      {"taken name in other case", hostRule("OFFICE", "x", true), "exists already"},
      {"empty name", hostRule("", "x", true), "rule name is empty"},
      {"empty host name", hostRule("h", "", true), "host name is empty"},
      {"name of 129 bytes", hostRule(std::string(129, 'n'), "x", true), "128"},
      {"host name of 129 bytes", hostRule("h", std::string(129, 'h'), true), "128"},
      {"bracket in the name", hostRule("a]b", "x", true), "']'"},
      {"line break in the name", hostRule("a\nb", "x", true), "line break"},
      {"blank before the name", hostRule(" a", "x", true), "blank"},
      {"blank behind the host name", hostRule("h", "x ", true), "blank"},
      {"quoted host name", hostRule("h", "\"x\"", true), "quotes"},
      {"zero in the host name", hostRule("h", std::string("a\0b", 3), true), "zero"},
      {"name that is not UTF-8", hostRule("\xFF", "x", true), "UTF-8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string err;
    EXPECT_FALSE(model.add(row.rule, &err));
    EXPECT_NE(err.find(row.messagePart), std::string::npos) << err;
    EXPECT_EQ(namesOf(model), (std::vector<std::string>{"Office"}));
  }
  EXPECT_EQ(readFile(filterFile()), before);
  // An address rule needs no host name.
  std::string err;
  EXPECT_TRUE(model.add(addressRule("net", {10, 0, 0, 0}, {255, 0, 0, 0}, true), &err)) << err;
}

TEST_F(FilterModelTest, ReplaceKeepsThePosition) {
  FilterModel model = openModel();
  add(model, hostRule("a", "x", true));
  add(model, hostRule("b", "y", true));
  add(model, hostRule("c", "z", true));
  std::string err;
  // Switching a rule from host name to address keeps its name and position.
  ASSERT_TRUE(model.replace("b", addressRule("b", {10, 0, 0, 0}, {255, 0, 0, 0}, false), &err))
      << err;
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(model.find("b")->kind, FilterRuleKind::kAddress);
  // A rule may keep its own name in another case, or take a free one.
  ASSERT_TRUE(model.replace("b", hostRule("B", "y", true), &err)) << err;
  ASSERT_TRUE(model.replace("B", hostRule("renamed", "y", true), &err)) << err;
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"a", "renamed", "c"}));
  // Not the name of another rule, and not an unknown rule.
  EXPECT_FALSE(model.replace("renamed", hostRule("C", "y", true), &err));
  EXPECT_NE(err.find("exists already"), std::string::npos) << err;
  EXPECT_FALSE(model.replace("missing", hostRule("m", "y", true), &err));
  EXPECT_NE(err.find("no rule named"), std::string::npos) << err;
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"a", "renamed", "c"}));
}

TEST_F(FilterModelTest, MovesStopAtTheEnds) {
  FilterModel model = openModel();
  add(model, hostRule("first", "x", true));
  add(model, hostRule("last", "y", true));
  std::string err;
  EXPECT_TRUE(model.moveUp("first", &err)) << err;
  EXPECT_TRUE(model.moveDown("last", &err)) << err;
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"first", "last"}));
  EXPECT_FALSE(model.moveUp("missing", &err));
  EXPECT_FALSE(model.moveDown("missing", &err));
  EXPECT_TRUE(model.remove("first", &err)) << err;
  EXPECT_FALSE(model.remove("first", &err));
  EXPECT_EQ(namesOf(model), (std::vector<std::string>{"last"}));
}

TEST_F(FilterModelTest, DeletingEveryRuleAdmitsEveryClient) {
  FilterModel model = openModel();
  add(model, addressRule("deny-all", {0, 0, 0, 0}, {0, 0, 0, 0}, false));
  save(model);
  std::string err;
  ASSERT_TRUE(model.remove("deny-all", &err)) << err;
  save(model);
  EXPECT_EQ(hubDecision({10, 0, 0, 1}, "x"), std::pair(true, std::string()));
}

TEST_F(FilterModelTest, UnreadableOrUnwritableFileIsReported) {
  FilterModel model = openModel();
  add(model, hostRule("a", "x", true));
  std::filesystem::create_directory(filterFile());
  std::string err;
  EXPECT_FALSE(FilterModel::open(iniDirectory(), kHub, &err).has_value());
  EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
  std::filesystem::remove(filterFile());
  std::filesystem::remove_all(iniDirectory());
  EXPECT_FALSE(model.save(&err));
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
}

TEST_F(FilterModelTest, SaveKeepsWhatAnotherProgramWroteMeanwhile) {
  FilterModel panel = openModel();
  add(panel, hostRule("old", "x", true));
  save(panel);

  // Another writer (kvctl) adds a rule behind the panel's back.
  FilterModel other = openModel();
  add(other, hostRule("theirs", "y", false));
  save(other);

  // The panel's changes apply to the file's rules as they are now: "mine" goes one up from the
  // end, past "theirs".
  add(panel, hostRule("mine", "z", true));
  std::string err;
  ASSERT_TRUE(panel.moveUp("mine", &err)) << err;
  save(panel);
  EXPECT_EQ(namesOf(openModel()), (std::vector<std::string>{"old", "mine", "theirs"}));
  EXPECT_EQ(namesOf(panel), (std::vector<std::string>{"old", "mine", "theirs"}));
}

TEST_F(FilterModelTest, SaveRefusesAChangeThatNoLongerApplies) {
  FilterModel panel = openModel();
  add(panel, hostRule("shared", "x", true));
  save(panel);

  FilterModel other = openModel();
  std::string err;
  ASSERT_TRUE(other.remove("shared", &err)) << err;
  save(other);
  const std::string before = readFile(filterFile());

  ASSERT_TRUE(panel.replace("shared", hostRule("shared", "y", false), &err)) << err;
  EXPECT_FALSE(panel.save(&err));
  EXPECT_NE(err.find("changed by another program"), std::string::npos) << err;
  EXPECT_EQ(readFile(filterFile()), before);
}

TEST_F(FilterModelTest, HubNumbersOutsideTheFourDigitsAreRefused) {
  std::string err;
  EXPECT_FALSE(FilterModel::open(iniDirectory(), 0, &err).has_value());
  EXPECT_FALSE(FilterModel::open(iniDirectory(), 10000, &err).has_value());
  EXPECT_NE(err.find("is not between 1 and 9999"), std::string::npos) << err;
}

TEST_F(FilterModelTest, TellingAStoppedHubReturnsNotRunning) {
  dir_.useForThisProcess();
  FilterModel model = openModel();
  std::string err;
  EXPECT_EQ(model.tellHub(false, &err), HubDelivery::kHubNotRunning);
}

}  // namespace
}  // namespace korvane::panel
