#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/SealedField.h"
#include "hub/AccountStore.h"
#include "panel/logic/AccountListModel.h"
#include "panel/logic/AccountModelCache.h"
#include "tests/panel/logic/AccountTestSupport.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::fileExists;
using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;
using testing::hubLogin;
using testing::makeAccount;

constexpr int kHub = 1;

class AccountListModelTest : public ::testing::Test {
 protected:
  std::string iniDirectory() const { return dir_.path() + "ini/"; }
  std::string accountFile() const { return dir_.ini("0001_account.ini"); }

  AccountListModel openModel(char splitter = '\r') {
    std::string err;
    std::optional<AccountListModel> model =
        AccountListModel::open(iniDirectory(), kHub, splitter, &err);
    EXPECT_TRUE(model.has_value()) << err;
    return std::move(model).value();
  }

  void add(AccountListModel& model, const Account& account) {
    std::string err;
    ASSERT_TRUE(model.addAccount(account, &err)) << err;
  }

  TempProgramDir dir_;
};

std::vector<std::u16string> namesOf(const AccountListModel& model) {
  std::vector<std::u16string> names;
  for (const Account& account : model.accounts()) {
    names.push_back(account.name);
  }
  return names;
}

TEST_F(AccountListModelTest, MissingFileGivesEmptyList) {
  AccountListModel model = openModel();
  EXPECT_TRUE(model.accounts().empty());
  EXPECT_EQ(model.highestDomainIndex(), 0);
  EXPECT_FALSE(fileExists(accountFile()));
}

TEST_F(AccountListModelTest, SaveWritesTheHubsFormat) {
  AccountListModel model = openModel();
  Account account = makeAccount(u"alice", u"secret");
  account.status = AccountStatus::kLocked;
  account.guest = true;
  account.connectionMax = 1;
  account.bridgeAllow = false;
  add(model, account);

  const std::string name = *common::sealText(u"alice");
  const std::string password = *common::sealText(u"secret");
  ASSERT_EQ(name.size(), 256u);
  EXPECT_EQ(readFile(accountFile()), "[" + name + "]\r\nPassword=" + password +
                                         "\r\nStatus=1\r\nGuestFlag=TRUE\r\nConnectionMax=1\r\n"
                                         "BridgeAllow=FALSE\r\n");
}

TEST_F(AccountListModelTest, HubReadsWhatThePanelWrote) {
  AccountListModel model = openModel('#');
  Account alice = makeAccount(u"alice#sales", u"pw-alice");
  Account bob = makeAccount(u"bob#sales", u"pw-bob");
  bob.guest = true;
  bob.bridgeAllow = false;
  Account carol = makeAccount(u"carol#dev", u"\u00e9t\u00e9\u2603");
  carol.connectionMax = 1;
  Account dave = makeAccount(u"dave", std::u16string(64, u'p'));
  dave.status = AccountStatus::kLocked;
  for (const Account& account : {alice, bob, carol, dave}) {
    add(model, account);
  }

  const hub::AccountStore store(iniDirectory(), kHub, '#');
  ASSERT_EQ(store.accountCount(), 4u);
  const std::optional<hub::AccountLogin> aliceLogin = hubLogin(store, u"alice#sales", u"pw-alice");
  ASSERT_TRUE(aliceLogin.has_value());
  EXPECT_EQ(aliceLogin->name, u"alice#sales");
  EXPECT_FALSE(aliceLogin->guest);
  EXPECT_TRUE(aliceLogin->bridgeAllow);
  const std::optional<hub::AccountLogin> bobLogin = hubLogin(store, u"bob#sales", u"pw-bob");
  ASSERT_TRUE(bobLogin.has_value());
  EXPECT_TRUE(bobLogin->guest);
  EXPECT_FALSE(bobLogin->bridgeAllow);
  EXPECT_TRUE(hubLogin(store, u"carol#dev", u"\u00e9t\u00e9\u2603").has_value());
  EXPECT_FALSE(hubLogin(store, u"carol#dev", u"wrong").has_value());
  // A locked account never logs in, even with its right password.
  EXPECT_FALSE(hubLogin(store, u"dave", std::u16string(64, u'p')).has_value());
  EXPECT_EQ(store.statusOf(u"dave"), AccountStatus::kLocked);

  hub::AccountStore counting(iniDirectory(), kHub, '#');
  EXPECT_TRUE(counting.acquire(u"carol#dev"));
  EXPECT_FALSE(counting.acquire(u"carol#dev"));  // single connection
  EXPECT_TRUE(counting.acquire(u"alice#sales"));
  EXPECT_TRUE(counting.acquire(u"alice#sales"));  // any number

  for (const Account& account : model.accounts()) {
    SCOPED_TRACE(std::string(account.name.begin(), account.name.end()));
    EXPECT_EQ(store.domainIndexOfAccount(account.name), account.domainIndex);
  }
  EXPECT_EQ(store.highestDomainIndex(), model.highestDomainIndex());
  EXPECT_EQ(model.highestDomainIndex(), 2);
}

TEST_F(AccountListModelTest, DomainsAreNumberedInListOrder) {
  struct Row {
    std::vector<std::u16string> names;
    std::vector<int> indexes;
    int highest;
  };
  const Row rows[] = {
      {{u"a#x", u"b", u"c#y", u"d#x"}, {1, 0, 2, 1}, 2},
      {{u"alice#sales", u"bob#sales", u"carol#dev", u"dave"}, {1, 1, 2, 0}, 2},
      // A name ending in the splitter has the empty domain of the global accounts before it...
      {{u"dave", u"erin#"}, {0, 0}, 0},
      // ...and a new index when no global account comes before it.
      {{u"erin#", u"dave", u"frank#"}, {1, 0, 1}, 1},
      // Only the first splitter cuts.
      {{u"a#b#c", u"d#b#c", u"e#c"}, {1, 1, 2}, 2},
  };
  int hub = 10;
  for (const Row& row : rows) {
    SCOPED_TRACE(hub);
    std::string err;
    std::optional<AccountListModel> model =
        AccountListModel::open(iniDirectory(), ++hub, '#', &err);
    ASSERT_TRUE(model) << err;
    for (const std::u16string& name : row.names) {
      add(*model, makeAccount(name, u"pw"));
    }
    std::vector<int> indexes;
    for (const Account& account : model->accounts()) {
      indexes.push_back(account.domainIndex);
    }
    EXPECT_EQ(indexes, row.indexes);
    EXPECT_EQ(model->highestDomainIndex(), row.highest);
    const hub::AccountStore store(iniDirectory(), hub, '#');
    for (const Account& account : model->accounts()) {
      EXPECT_EQ(store.domainIndexOfAccount(account.name), account.domainIndex);
    }
  }
}

TEST_F(AccountListModelTest, DomainsListsTheDomainOfEachIndex) {
  AccountListModel model = openModel('#');
  for (const char16_t* name : {u"a#x", u"b", u"c#y", u"d#x"}) {
    add(model, makeAccount(name, u"pw"));
  }
  EXPECT_EQ(model.domains(), (std::vector<std::u16string>{u"", u"x", u"y"}));
}

TEST_F(AccountListModelTest, WithoutSplitterEveryAccountIsGlobal) {
  AccountListModel model = openModel('\r');
  add(model, makeAccount(u"a#x", u"pw"));
  add(model, makeAccount(u"b#y", u"pw"));
  EXPECT_EQ(model.accounts()[0].domainIndex, 0);
  EXPECT_EQ(model.accounts()[1].domainIndex, 0);
  EXPECT_EQ(model.highestDomainIndex(), 0);
}

TEST_F(AccountListModelTest, UnknownNamesReadAsDefaults) {
  AccountListModel model = openModel();
  Account account = makeAccount(u"known", u"pw");
  account.bridgeAllow = false;
  account.status = AccountStatus::kLocked;
  add(model, account);
  EXPECT_EQ(model.readStatus(u"unknown"), AccountStatus::kInUse);
  EXPECT_FALSE(model.readGuest(u"unknown"));
  EXPECT_EQ(model.readConnectionLimit(u"unknown"), 0);
  EXPECT_TRUE(model.readBridge(u"unknown"));
  EXPECT_EQ(model.readPassword(u"unknown"), u"");
  EXPECT_FALSE(model.readBridge(u"known"));
  EXPECT_EQ(model.readStatus(u"known"), AccountStatus::kLocked);
  // Look-ups are exact and case-sensitive.
  EXPECT_TRUE(model.nameIsFree(u"Known"));
  EXPECT_FALSE(model.nameIsFree(u"known"));
}

TEST_F(AccountListModelTest, RefusedAddWritesNothing) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"taken", u"pw"));
  const std::string before = readFile(accountFile());
  const std::vector<Account> accountsBefore = model.accounts();

  struct Row {
    const char* what;
    Account account;
    const char* messagePart;
  };
  Account badStatus = makeAccount(u"s", u"pw");
  badStatus.status = AccountStatus{2};
  Account badLimit = makeAccount(u"l", u"pw");
  badLimit.connectionMax = -1;
  const Row rows[] = {
      {"empty name", makeAccount(u"", u"pw"), "name is empty"},
      {"empty password", makeAccount(u"x", u""), "password is empty"},
      {"name of 65 characters", makeAccount(std::u16string(65, u'n'), u"pw"), "64"},
      {"password of 65 characters", makeAccount(u"x", std::u16string(65, u'p')), "64"},
      {"zero in the name", makeAccount(std::u16string(u"a\0b", 3), u"pw"), "zero"},
      {"taken name", makeAccount(u"taken", u"other"), "exists already"},
      {"status 2", badStatus, "status"},
      {"negative limit", badLimit, "negative"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string err;
    EXPECT_FALSE(model.addAccount(row.account, &err));
    EXPECT_NE(err.find(row.messagePart), std::string::npos) << err;
    EXPECT_EQ(readFile(accountFile()), before);
    EXPECT_EQ(model.accounts(), accountsBefore);
  }
}

TEST_F(AccountListModelTest, LongestNameAndPasswordRoundTrip) {
  AccountListModel model = openModel();
  const std::u16string name(64, u'N');
  const std::u16string password(64, u'\u00fc');
  add(model, makeAccount(name, password));
  AccountListModel reread = openModel();
  ASSERT_EQ(reread.accounts().size(), 1u);
  EXPECT_EQ(reread.accounts()[0].name, name);
  EXPECT_EQ(reread.readPassword(name), password);
  const hub::AccountStore store(iniDirectory(), kHub, '\r');
  EXPECT_TRUE(hubLogin(store, name, password).has_value());
}

TEST_F(AccountListModelTest, ChangesReachTheHub) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"alice", u"old"));
  std::string err;
  ASSERT_TRUE(model.setPassword(u"alice", u"new", &err)) << err;
  ASSERT_TRUE(model.setGuest(u"alice", true, &err)) << err;
  ASSERT_TRUE(model.setBridge(u"alice", false, &err)) << err;
  ASSERT_TRUE(model.setConnectionLimit(u"alice", 1, &err)) << err;
  {
    hub::AccountStore store(iniDirectory(), kHub, '\r');
    EXPECT_FALSE(hubLogin(store, u"alice", u"old").has_value());
    const std::optional<hub::AccountLogin> login = hubLogin(store, u"alice", u"new");
    ASSERT_TRUE(login.has_value());
    EXPECT_TRUE(login->guest);
    EXPECT_FALSE(login->bridgeAllow);
    EXPECT_TRUE(store.acquire(u"alice"));
    EXPECT_FALSE(store.acquire(u"alice"));
  }
  ASSERT_TRUE(model.lock(u"alice", &err)) << err;
  {
    const hub::AccountStore store(iniDirectory(), kHub, '\r');
    EXPECT_EQ(store.statusOf(u"alice"), AccountStatus::kLocked);
    EXPECT_FALSE(hubLogin(store, u"alice", u"new").has_value());
  }
  ASSERT_TRUE(model.unlock(u"alice", &err)) << err;
  const hub::AccountStore store(iniDirectory(), kHub, '\r');
  EXPECT_EQ(store.statusOf(u"alice"), AccountStatus::kInUse);
  EXPECT_TRUE(hubLogin(store, u"alice", u"new").has_value());
  EXPECT_EQ(model.readStatus(u"alice"), AccountStatus::kInUse);
  EXPECT_EQ(model.readConnectionLimit(u"alice"), 1);
}

TEST_F(AccountListModelTest, ChangesOfUnknownAccountsAreRefused) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"alice", u"pw"));
  const std::string before = readFile(accountFile());
  using Change = std::function<bool(std::string*)>;
  const std::pair<const char*, Change> rows[] = {
      {"delete", [&](std::string* err) { return model.deleteAccount(u"bob", err); }},
      {"lock", [&](std::string* err) { return model.lock(u"bob", err); }},
      {"unlock", [&](std::string* err) { return model.unlock(u"bob", err); }},
      {"guest", [&](std::string* err) { return model.setGuest(u"bob", true, err); }},
      {"limit", [&](std::string* err) { return model.setConnectionLimit(u"bob", 1, err); }},
      {"bridge", [&](std::string* err) { return model.setBridge(u"bob", false, err); }},
      {"password", [&](std::string* err) { return model.setPassword(u"bob", u"x", err); }},
      {"empty password", [&](std::string* err) { return model.setPassword(u"alice", u"", err); }},
      {"negative limit",
       [&](std::string* err) { return model.setConnectionLimit(u"alice", -3, err); }},
  };
  for (const auto& [what, change] : rows) {
    SCOPED_TRACE(what);
    std::string err;
    EXPECT_FALSE(change(&err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(readFile(accountFile()), before);
  }
  EXPECT_EQ(model.readPassword(u"alice"), u"pw");
}

TEST_F(AccountListModelTest, DeleteNumbersDomainsAgain) {
  AccountListModel model = openModel('#');
  for (const char16_t* name : {u"a#x", u"b#y", u"c#z"}) {
    add(model, makeAccount(name, u"pw"));
  }
  std::string err;
  ASSERT_TRUE(model.deleteAccount(u"a#x", &err)) << err;
  EXPECT_EQ(namesOf(model), (std::vector<std::u16string>{u"b#y", u"c#z"}));
  EXPECT_EQ(model.accounts()[0].domainIndex, 1);
  EXPECT_EQ(model.accounts()[1].domainIndex, 2);
  EXPECT_EQ(model.highestDomainIndex(), 2);
  const hub::AccountStore store(iniDirectory(), kHub, '#');
  EXPECT_EQ(store.accountCount(), 2u);
  EXPECT_EQ(store.domainIndexOfAccount(u"c#z"), 2);
}

TEST_F(AccountListModelTest, FailedSaveKeepsListAndFile) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"alice", u"pw"));
  const std::vector<Account> before = model.accounts();
  std::filesystem::remove_all(iniDirectory());
  std::string err;
  EXPECT_FALSE(model.addAccount(makeAccount(u"bob", u"pw"), &err));
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
  EXPECT_FALSE(model.lock(u"alice", &err));
  EXPECT_FALSE(model.deleteAccount(u"alice", &err));
  EXPECT_EQ(model.accounts(), before);
}

TEST_F(AccountListModelTest, UnreadableFileIsNotTakenForAnEmptyOne) {
  // A folder in the file's place exists but cannot be read as a file; an empty list that the
  // next change would write back must not stand in for it.
  std::filesystem::create_directory(accountFile());
  std::string err;
  EXPECT_FALSE(AccountListModel::open(iniDirectory(), kHub, '\r', &err).has_value());
  EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
}

TEST_F(AccountListModelTest, ChangeKeepsWhatAnotherProgramWroteMeanwhile) {
  AccountListModel panel = openModel();
  add(panel, makeAccount(u"alice", u"pw"));
  add(panel, makeAccount(u"bob", u"pw"));
  AccountListModel other = openModel();
  const std::string csv = dir_.path() + "import.csv";
  writeFile(csv, "frank,pw,normal,use,multi,bridgeallow\r\n");

  struct Row {
    const char* what;
    std::function<bool(std::string*)> change;
  };
  const Row rows[] = {
      {"add", [&](std::string* e) { return panel.addAccount(makeAccount(u"dave", u"pw"), e); }},
      {"set guest", [&](std::string* e) { return panel.setGuest(u"alice", true, e); }},
      {"import",
       [&](std::string* e) {
         const CsvImportResult result = panel.importCsv(csv, CsvImportMode::kKeepExisting);
         *e = result.message;
         return result.ok();
       }},
  };
  std::vector<std::u16string> theirs;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // kvctl locks bob or adds an account behind the panel's back.
    std::string err;
    ASSERT_TRUE(other.lock(u"bob", &err)) << err;
    theirs.push_back(u"other-" + std::u16string(1, static_cast<char16_t>(u'a' + theirs.size())));
    add(other, makeAccount(theirs.back(), u"pw"));

    ASSERT_TRUE(row.change(&err)) << err;
    const AccountListModel fresh = openModel();
    EXPECT_EQ(fresh.readStatus(u"bob"), AccountStatus::kLocked);
    EXPECT_FALSE(fresh.nameIsFree(theirs.back()));
    EXPECT_EQ(panel.accounts(), fresh.accounts());
  }
  EXPECT_EQ(namesOf(panel), (std::vector<std::u16string>{u"alice", u"bob", u"other-a", u"dave",
                                                         u"other-b", u"other-c", u"frank"}));
  EXPECT_TRUE(panel.readGuest(u"alice"));

  // A name that another program took meanwhile is refused, and the file stays as it is.
  add(other, makeAccount(u"erin", u"pw"));
  const std::string before = readFile(accountFile());
  std::string err;
  EXPECT_FALSE(panel.addAccount(makeAccount(u"erin", u"other"), &err));
  EXPECT_NE(err.find("exists already"), std::string::npos) << err;
  EXPECT_EQ(readFile(accountFile()), before);
}

TEST_F(AccountListModelTest, AddRefusedWhenTheListIsFull) {
  std::string csv;
  for (std::size_t i = 0; i < kMaxAccounts; ++i) {
    csv += "user" + std::to_string(i) + ",pw,normal,use,multi,bridgeallow\r\n";
  }
  writeFile(dir_.path() + "full.csv", csv);
  AccountListModel model = openModel();
  const CsvImportResult imported =
      model.importCsv(dir_.path() + "full.csv", CsvImportMode::kKeepExisting);
  ASSERT_TRUE(imported.ok()) << imported.message;
  ASSERT_EQ(model.accounts().size(), kMaxAccounts);
  const std::string before = readFile(accountFile());
  std::string err;
  EXPECT_FALSE(model.addAccount(makeAccount(u"one-more", u"pw"), &err));
  EXPECT_NE(err.find("1000"), std::string::npos) << err;
  EXPECT_EQ(readFile(accountFile()), before);
  EXPECT_EQ(hub::AccountStore(iniDirectory(), kHub, '\r').accountCount(), kMaxAccounts);
}

TEST_F(AccountListModelTest, TellingAStoppedHubReturnsNotRunning) {
  dir_.useForThisProcess();
  AccountListModel model = openModel();
  std::string err;
  EXPECT_EQ(model.tellHub(true, &err), HubDelivery::kHubNotRunning);
}

TEST_F(AccountListModelTest, HubNumbersOutsideTheFourDigitsAreRefused) {
  for (const int hub : {0, -1, 10000}) {
    SCOPED_TRACE(hub);
    std::string err;
    EXPECT_FALSE(AccountListModel::open(iniDirectory(), hub, '\r', &err).has_value());
    EXPECT_NE(err.find("is not between 1 and 9999"), std::string::npos) << err;
    AccountModelCache cache(iniDirectory());
    EXPECT_EQ(cache.model(hub, '\r', &err), nullptr);
    EXPECT_FALSE(cache.forgetHub(hub, &err));
  }
  EXPECT_TRUE(std::filesystem::is_empty(iniDirectory()));
}

TEST(AccountModelCache, KeepsOneModelPerHubUntilForgotten) {
  TempProgramDir dir;
  AccountModelCache cache(dir.path() + "ini/");
  std::string err;
  AccountListModel* first = cache.model(3, '#', &err);
  ASSERT_NE(first, nullptr) << err;
  ASSERT_TRUE(first->addAccount(makeAccount(u"a#x", u"pw"), &err)) << err;
  EXPECT_EQ(cache.model(3, '#', &err), first);
  EXPECT_TRUE(fileExists(dir.ini("0003_account.ini")));

  ASSERT_TRUE(cache.forgetHub(3, &err)) << err;
  EXPECT_FALSE(cache.holds(3));
  EXPECT_FALSE(fileExists(dir.ini("0003_account.ini")));
  AccountListModel* fresh = cache.model(3, '#', &err);
  ASSERT_NE(fresh, nullptr) << err;
  EXPECT_TRUE(fresh->accounts().empty());
  // Forgetting a hub without model or file succeeds.
  EXPECT_TRUE(cache.forgetHub(4, &err)) << err;
}

TEST(AccountModelCache, NewSplitterNumbersDomainsAgain) {
  TempProgramDir dir;
  AccountModelCache cache(dir.path() + "ini/");
  std::string err;
  AccountListModel* model = cache.model(1, '\r', &err);
  ASSERT_NE(model, nullptr) << err;
  ASSERT_TRUE(model->addAccount(makeAccount(u"a#x", u"pw"), &err)) << err;
  EXPECT_EQ(model->accounts()[0].domainIndex, 0);
  model = cache.model(1, '#', &err);
  ASSERT_NE(model, nullptr) << err;
  EXPECT_EQ(model->accounts()[0].domain, u"x");
  EXPECT_EQ(model->accounts()[0].domainIndex, 1);
}

}  // namespace
}  // namespace korvane::panel
