#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "panel/logic/EditWindowText.h"
#include "panel/logic/FilterEditor.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::TempProgramDir;

constexpr int kHub = 1;

// Each operation of the filter window works on a model of its own, as the window does.
class FilterEditorTest : public ::testing::Test {
 protected:
  FilterModel openModel() {
    std::string err;
    auto model = FilterModel::open(dir_.path() + "ini/", kHub, &err);
    EXPECT_TRUE(model.has_value()) << err;
    return std::move(model).value();
  }

  // Submits `form` on a fresh model; the refusal's string, 0 when saved.
  int submit(const RuleForm& form) {
    FilterModel model = openModel();
    FilterEditor editor(model, recorder());
    int refusal = 0;
    std::string err;
    const bool saved = editor.submit(form, &refusal, &err);
    EXPECT_TRUE(saved || refusal != 0) << err;
    return refusal;
  }

  HubReloadSender recorder() {
    return [this](HubReload reload, std::string*) {
      sent_.push_back(static_cast<int>(reload));
      return HubDelivery::kHubNotRunning;
    };
  }

  std::vector<std::string> names() {
    std::vector<std::string> result;
    const FilterModel model = openModel();
    for (const FilterRule& each : model.rules()) {
      result.push_back(each.name);
    }
    return result;
  }

  static RuleForm hostForm(std::string name, std::string host) {
    RuleForm form = newRuleForm();
    form.name = std::move(name);
    form.hostName = std::move(host);
    return form;
  }

  // The rule named `name` as the file holds it now.
  FilterRule rule(const std::string& name) {
    const FilterModel model = openModel();
    const FilterRule* found = model.find(name);
    EXPECT_NE(found, nullptr) << name;
    return found != nullptr ? *found : FilterRule{};
  }

  std::string file() const { return readFile(dir_.ini("0001_hosts.ini")); }

  TempProgramDir dir_;
  std::vector<int> sent_;
};

TEST_F(FilterEditorTest, RuleFormIsCheckedInTheDialogsOrder) {
  ASSERT_EQ(submit(hostForm("lab", "lab.example")), 0);
  RuleForm byAddress = newRuleForm();
  byAddress.name = "office";
  byAddress.byHostName = false;
  byAddress.address = "192.168.1.0";
  byAddress.mask = "255.255.255";
  struct Case {
    const char* what;
    RuleForm form;
    int refusal;
  };
  const Case cases[] = {
      {"no name", hostForm("", ""), text::kEnterRuleName},
      {"no host name", hostForm("x", ""), text::kEnterHostName},
      {"a mask of three numbers", byAddress, text::kBadRuleAddress},
      {"a taken name, in other letters", hostForm("LAB", "a.example"), text::kRuleNameTaken},
      {"a name the file cannot hold", hostForm("a]b", "a.example"), text::kRuleNotWritable},
      {"a host name the file cannot hold", hostForm("b", " a.example"), text::kRuleNotWritable},
  };
  const std::string before = file();
  sent_.clear();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(submit(c.form), c.refusal);
  }
  EXPECT_EQ(file(), before) << "a refused rule writes nothing";
  EXPECT_TRUE(sent_.empty());
}

TEST_F(FilterEditorTest, EditingKeepsNameAndPlaceAndRenamesOnlyToAFreeName) {
  ASSERT_EQ(submit(hostForm("first", "a.example")), 0);
  ASSERT_EQ(submit(hostForm("second", "b.example")), 0);
  RuleForm form = ruleFormOf(rule("first"));
  form.byHostName = false;
  form.address = "10.0.0.0";
  form.mask = "255.0.0.0";
  form.allow = true;
  EXPECT_EQ(submit(form), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(filterRow(rule("first")),
            (FilterRow{icon::kRuleAllows, "first", "10.0.0.0 / 255.0.0.0", text::kAllowed}));

  form = ruleFormOf(rule("first"));
  form.name = "FIRST";  // the same rule in other letters
  EXPECT_EQ(submit(form), 0);
  form.previousName = "FIRST";
  form.name = "second";
  EXPECT_EQ(submit(form), text::kRuleNameTaken);
  EXPECT_EQ(names(), (std::vector<std::string>{"FIRST", "second"}));
}

TEST_F(FilterEditorTest, MovesAtTheEndsChangeNothingAndEverySaveReloadsTheHub) {
  for (const char* name : {"a", "b", "c"}) {
    ASSERT_EQ(submit(hostForm(name, "h.example")), 0);
  }
  EXPECT_EQ(sent_, (std::vector<int>{7, 7, 7}));
  struct Case {
    const char* name;
    bool up;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"a", true, {"a", "b", "c"}},
      {"c", false, {"a", "b", "c"}},
      {"c", true, {"a", "c", "b"}},
      {"a", false, {"c", "a", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.up ? " up" : " down"));
    FilterModel model = openModel();
    FilterEditor editor(model, recorder());
    std::string err;
    ASSERT_TRUE(c.up ? editor.moveUp(c.name, &err) : editor.moveDown(c.name, &err)) << err;
    EXPECT_EQ(names(), c.order);
  }
  FilterModel model = openModel();
  FilterEditor editor(model, recorder(), true);
  std::string err;
  ASSERT_TRUE(editor.remove("a", &err)) << err;
  EXPECT_EQ(names(), (std::vector<std::string>{"c", "b"}));
  EXPECT_EQ(sent_, (std::vector<int>{7, 7, 7, 7, 7, 7, 7, 8}));
}

TEST(FilterView, RowsAndMenuStates) {
  FilterRule rule;
  rule.name = "lab";
  rule.hostName = std::string(128, 'h');
  EXPECT_EQ(filterRow(rule),
            (FilterRow{icon::kRuleRefuses, "lab", rule.hostName, text::kNotAllowed}));
  const RuleForm fresh = newRuleForm();
  EXPECT_TRUE(fresh.byHostName);
  EXPECT_FALSE(fresh.allow);
  EXPECT_EQ(filterMenuState(false), FilterMenuState{});
  EXPECT_EQ(filterMenuState(true), (FilterMenuState{true, true, true, true, true}));
}

}  // namespace
}  // namespace korvane::panel
