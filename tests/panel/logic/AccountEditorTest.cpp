#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/AccountFile.h"
#include "panel/logic/AccountEditor.h"
#include "panel/logic/AccountView.h"
#include "panel/logic/EditWindowText.h"
#include "tests/panel/logic/AccountTestSupport.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

constexpr int kHub = 1;

class AccountEditorTest : public ::testing::Test {
 protected:
  AccountEditorTest() {
    std::string err;
    model_ = AccountListModel::open(dir_.path() + "ini/", kHub, '#', &err);
    EXPECT_TRUE(model_.has_value()) << err;
  }

  AccountEditor editor() {
    return AccountEditor(*model_, [this](HubReload reload, std::string*) {
      sent_.push_back(static_cast<int>(reload));
      return HubDelivery::kTaken;
    });
  }

  void addAccount(std::u16string name, bool locked = false) {
    NewAccountForm form{name, u"pw", u"pw"};
    form.locked = locked;
    std::string err;
    ASSERT_TRUE(editor().add(form, &err)) << err;
  }

  std::string accountFile() const { return readFile(dir_.ini("0001_account.ini")); }

  TempProgramDir dir_;
  std::optional<AccountListModel> model_;
  std::vector<int> sent_;
};

TEST_F(AccountEditorTest, EachChangeTellsTheHubItsCommand) {
  addAccount(u"alice");
  std::string err;
  AccountEditor edit = editor();
  struct Case {
    const char* change;
    std::function<bool()> run;
    std::vector<int> commands;
  };
  const std::vector<Case> cases = {
      {"add keeps the clients",
       [&] {
         return edit.add({u"bob", u"pw", u"pw"}, &err);
       },
       {2}},
      {"password", [&] { return edit.setPassword(u"bob", u"new", &err); }, {2}},
      {"lock alone sends nothing", [&] { return edit.lock(u"bob", &err); }, {}},
      {"lock, clients kept (Cancel)",
       [&] { return edit.lock(u"bob", &err) && (edit.tellClientsCut(false), true); },
       {2}},
      {"lock, clients cut (OK)",
       [&] { return edit.lock(u"bob", &err) && (edit.tellClientsCut(true), true); },
       {5}},
      {"unlock", [&] { return edit.unlock(u"bob", &err); }, {2}},
      {"guest", [&] { return edit.setGuest(u"bob", true, &err); }, {5}},
      {"single", [&] { return edit.setSingle(u"bob", true, &err); }, {5}},
      {"bridge", [&] { return edit.setBridge(u"bob", false, &err); }, {5}},
      {"delete, clients cut",
       [&] { return edit.remove(u"bob", &err) && (edit.tellClientsCut(true), true); },
       {5}},
      {"an unknown account sends nothing", [&] { return !edit.unlock(u"nobody", &err); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    sent_.clear();
    EXPECT_TRUE(c.run()) << err;
    EXPECT_EQ(sent_, c.commands);
  }
  EXPECT_EQ(model_->accounts().size(), 1u);
}

TEST_F(AccountEditorTest, NewAccountIsCheckedInTheDialogsOrder) {
  addAccount(u"alice");
  struct Case {
    NewAccountForm form;
    std::optional<int> refusal;
  };
  const Case cases[] = {
      {{u"", u"", u"x"}, text::kEnterAccountName},
      {{u"alice", u"", u"x"}, text::kEnterPassword},
      {{u"alice", u"pw", u"pW"}, text::kPasswordsDiffer},
      {{u"alice", u"pw", u"pw"}, text::kAccountNameTaken},
      {{u"Alice", u"pw", u"pw"}, std::nullopt},  // names compare with their case
  };
  AccountEditor edit = editor();
  for (const Case& c : cases) {
    SCOPED_TRACE(common::displayText(c.form.name));
    EXPECT_EQ(edit.checkNewAccount(c.form), c.refusal);
  }
}

TEST_F(AccountEditorTest, AddDialogOptionsReachTheFile) {
  NewAccountForm form{u"carol#sales", u"pw", u"pw", true, true, true, false};
  std::string err;
  ASSERT_TRUE(editor().add(form, &err)) << err;
  const Account& added = model_->accounts().at(0);
  EXPECT_EQ(added.status, AccountStatus::kLocked);
  EXPECT_EQ(added.connectionMax, 1);
  EXPECT_TRUE(added.guest);
  EXPECT_FALSE(added.bridgeAllow);
  EXPECT_EQ(accountRow(added),
            (AccountRow{icon::kAccountLocked, u"carol#sales", u"sales", text::kGuestAccount,
                        text::kLocked, text::kSingleConnection, text::kNotAllowed}));
}

TEST_F(AccountEditorTest, ThousandAccountsFillTheList) {
  std::vector<Account> accounts;
  for (int i = 0; i + 1 < static_cast<int>(kMaxAccounts); ++i) {
    const std::string name = "user" + std::to_string(i);
    accounts.push_back(testing::makeAccount(std::u16string(name.begin(), name.end()), u"pw"));
  }
  std::string err;
  const auto file = common::formatAccountFile(accounts, &err);
  ASSERT_TRUE(file) << err;
  writeFile(dir_.ini("0001_account.ini"), *file);
  ASSERT_TRUE(model_->reload(&err)) << err;
  EXPECT_FALSE(editor().isFull());
  addAccount(u"last");
  EXPECT_TRUE(editor().isFull());
  const std::string before = accountFile();
  sent_.clear();
  EXPECT_FALSE(editor().add({u"one-more", u"pw", u"pw"}, &err));
  EXPECT_EQ(accountFile(), before);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(AccountEditorTest, PasswordChangeNeedsTheCurrentPassword) {
  addAccount(u"alice");
  AccountEditor edit = editor();
  EXPECT_EQ(edit.checkPasswordChange(u"alice", u"PW", u"a", u"a"), text::kWrongPassword);
  EXPECT_EQ(edit.checkPasswordChange(u"alice", u"pw", u"a", u"b"), text::kPasswordsDiffer);
  EXPECT_EQ(edit.checkPasswordChange(u"alice", u"pw", u"", u""), text::kEnterPassword);
  EXPECT_EQ(edit.checkPasswordChange(u"alice", u"pw", u"a", u"a"), std::nullopt);
  EXPECT_EQ(edit.checkPasswordChange(u"nobody", u"", u"a", u"a"), text::kWrongPassword);
}

TEST_F(AccountEditorTest, CsvResultsBecomeTheirMessages) {
  struct Case {
    CsvError error;
    CsvMessage message;
  };
  const Case imports[] = {
      {CsvError::kNone, {text::kImported, std::nullopt, {}}},
      {CsvError::kBadLine, {92, 7, {}}},
      {CsvError::kCannotOpen, {83, std::nullopt, {}}},
      {CsvError::kListFull, {84, 1000, {}}},
      {CsvError::kNameTooLong, {87, 7, {}}},
      {CsvError::kPasswordTooLong, {88, 7, {}}},
      {CsvError::kBadType, {89, 7, {}}},
      {CsvError::kBadState, {90, 7, {}}},
      {CsvError::kBadConnections, {91, 7, {}}},
  };
  for (const Case& c : imports) {
    SCOPED_TRACE(static_cast<int>(c.error));
    CsvImportResult result;
    result.error = c.error;
    result.line = 7;
    EXPECT_EQ(importMessage(result), c.message);
  }
  const Case exports[] = {
      {CsvError::kNone, {85, std::nullopt, {}}},
      {CsvError::kNameNotWritable, {81, std::nullopt, u"a,b"}},
      {CsvError::kPasswordNotWritable, {82, std::nullopt, u"a,b"}},
      {CsvError::kCannotOpen, {83, std::nullopt, {}}},
  };
  for (const Case& c : exports) {
    SCOPED_TRACE(static_cast<int>(c.error));
    CsvExportResult result;
    result.error = c.error;
    result.failedName = u"a,b";
    EXPECT_EQ(exportMessage(result), c.message);
  }
}

TEST_F(AccountEditorTest, ImportTellsTheHubOnlyWhenItTookTheFile) {
  addAccount(u"alice");
  const std::string good = dir_.path() + "good.csv";
  const std::string bad = dir_.path() + "bad.csv";
  writeFile(good, "bob,pw,normal,use,multi,bridgeallow\r\n");
  writeFile(bad, "carol,pw,normal,use,multi,bridgeallow\r\ndave,pw,boss,use,multi,x\r\n");
  sent_.clear();
  EXPECT_EQ(editor().importCsv(bad, CsvImportMode::kKeepExisting), (CsvMessage{89, 2, {}}));
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(editor().importCsv(good, CsvImportMode::kKeepExisting),
            (CsvMessage{text::kImported, std::nullopt, {}}));
  EXPECT_EQ(sent_, std::vector<int>{5});
  EXPECT_EQ(model_->accounts().size(), 2u);
}

TEST(AccountView, MenuStateFollowsTheSelection) {
  EXPECT_EQ(accountMenuState(nullptr), AccountMenuState{});
  Account account = testing::makeAccount(u"a", u"pw");
  AccountMenuState inUse = accountMenuState(&account);
  EXPECT_TRUE(inUse.lock && !inUse.unlock);
  EXPECT_TRUE(inUse.remove && inUse.password && inUse.guest && inUse.single && inUse.bridge);
  EXPECT_FALSE(inUse.guestChecked || inUse.singleChecked);
  EXPECT_TRUE(inUse.bridgeChecked);

  account.status = AccountStatus::kLocked;
  account.guest = true;
  account.connectionMax = 3;
  account.bridgeAllow = false;
  const AccountMenuState locked = accountMenuState(&account);
  EXPECT_TRUE(locked.unlock && !locked.lock);
  EXPECT_TRUE(locked.guestChecked && locked.singleChecked);
  EXPECT_FALSE(locked.bridgeChecked);
}

TEST(AccountView, GlobalAccountsAndTheStatusBar) {
  const AccountRow row = accountRow(testing::makeAccount(u"dave", u"pw"));
  EXPECT_EQ(row.domain, u"-Global-");
  EXPECT_EQ(row.icon, icon::kAccountInUse);
  EXPECT_EQ(accountStatusLine(3, true), (StatusLine{text::kAccountCountLabel, 3}));
  EXPECT_EQ(accountStatusLine(3, false), (StatusLine{text::kAuthenticationOff, std::nullopt}));
  EXPECT_EQ(statusLineText("Accounts", accountStatusLine(3, true)), "Accounts : 3");
  EXPECT_EQ(statusLineText("Off", accountStatusLine(3, false)), "Off");
}

}  // namespace
}  // namespace korvane::panel
