#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hub/AccountStore.h"
#include "panel/logic/AccountCsv.h"
#include "panel/logic/AccountListModel.h"
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

// ---------------------------------------------------------------------------------------------
// One line

TEST(AccountCsv, ParsesFieldsAndKeywords) {
  struct Row {
    const char* line;
    std::u16string name;
    std::u16string password;
    bool guest;
    int status;
    int limit;
    bool bridge;
  };
  const Row rows[] = {
      {"alice,secret,normal,use,single,bridgeallow", u"alice", u"secret", false, 0, 1, true},
      {"bob,pw,guest,locked,multi,bridgedisallow", u"bob", u"pw", true, 1, 0, false},
      // Blanks around fields go, keywords take any case, an unknown sixth word allows bridging.
      {"  carol  ,\t my pw \t, GUEST , Use , Multi , sometimes  ", u"carol", u"my pw", true, 0, 0,
       true},
      {"dave,pw,normal,use,single,BridgeDisallow", u"dave", u"pw", false, 0, 1, false},
      // No sixth field at all: bridging allowed.
      {"erin,pw,normal,use,single", u"erin", u"pw", false, 0, 1, true},
      {"frank,pw,normal,use,single,", u"frank", u"pw", false, 0, 1, true},
      // Fields behind the sixth are ignored.
      {"gina,pw,normal,use,single,bridgedisallow,extra", u"gina", u"pw", false, 0, 1, false},
      // A carriage return ends the sixth field.
      {"hal,pw,normal,use,single,bridgedisallow\r", u"hal", u"pw", false, 0, 1, false},
      {"\u00e9mile#dom\u00e4ne,p\u00e4ss,normal,use,multi,bridgeallow", u"\u00e9mile#dom\u00e4ne",
       u"p\u00e4ss", false, 0, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Account account;
    std::string err;
    ASSERT_EQ(parseCsvLine(row.line, &account, &err), CsvError::kNone) << err;
    EXPECT_EQ(account.name, row.name);
    EXPECT_EQ(account.password, row.password);
    EXPECT_EQ(account.guest, row.guest);
    EXPECT_EQ(account.status, AccountStatus{row.status});
    EXPECT_EQ(account.connectionMax, row.limit);
    EXPECT_EQ(account.bridgeAllow, row.bridge);
  }
}

TEST(AccountCsv, RefusesBadLines) {
  const std::string name64(64, 'n');
  const std::string name65(65, 'n');
  // 33 characters outside the basic plane take 66 UTF-16 code units.
  std::string wideName;
  for (int i = 0; i < 33; ++i) {
    wideName += "\xF0\x9F\x98\x80";
  }
  struct Row {
    std::string line;
    CsvError error;
  };
  const Row rows[] = {
      // Empty fields among the first five.
      {",pw,normal,use,single,bridgeallow", CsvError::kBadLine},
      {"a,,normal,use,single,bridgeallow", CsvError::kBadLine},
      {"a,pw,  ,use,single,bridgeallow", CsvError::kBadLine},
      {"a,pw,normal,use", CsvError::kBadLine},
      {"a,pw,normal,use,", CsvError::kBadLine},
      // A carriage return inside the line ends the fields there.
      {"a,pw\rx,normal,use,single", CsvError::kBadLine},
      // Text that is not UTF-8.
      {"\xFF\xFE,pw,normal,use,single", CsvError::kBadLine},
      {"a,\xC3,normal,use,single", CsvError::kBadLine},
      // Lengths.
      {name65 + ",pw,normal,use,single", CsvError::kNameTooLong},
      {wideName + ",pw,normal,use,single", CsvError::kNameTooLong},
      {"a," + name65 + ",normal,use,single", CsvError::kPasswordTooLong},
      {std::string(1024, 'n') + ",pw,normal,use,single", CsvError::kNameTooLong},
      {"a," + std::string(1024, 'p') + ",normal,use,single", CsvError::kPasswordTooLong},
      // Keywords.
      {"a,pw,admin,use,single", CsvError::kBadType},
      {"a,pw,normal,on,single", CsvError::kBadState},
      {"a,pw,normal,use,two", CsvError::kBadConnections},
      {"a,pw,normal,use,singles", CsvError::kBadConnections},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line.substr(0, 80));
    Account account;
    std::string err;
    EXPECT_EQ(parseCsvLine(row.line, &account, &err), row.error);
    EXPECT_FALSE(err.empty());
  }
  Account account;
  std::string err;
  EXPECT_EQ(parseCsvLine(name64 + "," + name64 + ",normal,use,single", &account, &err),
            CsvError::kNone)
      << err;
}

TEST(AccountCsv, WritesOneLinePerAccount) {
  Account account = makeAccount(u"alice#x", u"s\u00e9cret");
  std::string line;
  std::string err;
  ASSERT_EQ(csvLineOf(account, &line, &err), CsvError::kNone) << err;
  EXPECT_EQ(line,
            "alice#x,s\xC3\xA9"
            "cret,normal,use,multi,bridgeallow\r\n");
  account.guest = true;
  account.status = AccountStatus::kLocked;
  account.connectionMax = 1;
  account.bridgeAllow = false;
  ASSERT_EQ(csvLineOf(account, &line, &err), CsvError::kNone) << err;
  EXPECT_EQ(line,
            "alice#x,s\xC3\xA9"
            "cret,guest,locked,single,bridgedisallow\r\n");
  // Any status other than 0 is locked, any limit other than 0 single.
  account.status = AccountStatus{5};
  account.connectionMax = 3;
  ASSERT_EQ(csvLineOf(account, &line, &err), CsvError::kNone) << err;
  EXPECT_EQ(line,
            "alice#x,s\xC3\xA9"
            "cret,guest,locked,single,bridgedisallow\r\n");
}

TEST(AccountCsv, RefusesTextsThatWouldNotReadBack) {
  struct Row {
    const char* what;
    Account account;
    CsvError error;
  };
  const Row rows[] = {
      {"unpaired surrogate in the name", makeAccount(u"bad\xD800", u"pw"),
       CsvError::kNameNotWritable},
      {"comma in the name", makeAccount(u"a,b", u"pw"), CsvError::kNameNotWritable},
      {"blank at the end of the name", makeAccount(u"ab ", u"pw"), CsvError::kNameNotWritable},
      {"unpaired surrogate in the password", makeAccount(u"ok", u"\xDC00"),
       CsvError::kPasswordNotWritable},
      {"line break in the password", makeAccount(u"ok", u"a\nb"), CsvError::kPasswordNotWritable},
      {"empty password", makeAccount(u"ok", u""), CsvError::kPasswordNotWritable},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string line;
    std::string err;
    EXPECT_EQ(csvLineOf(row.account, &line, &err), row.error);
    EXPECT_FALSE(err.empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Files, through the account list model

class AccountCsvTest : public ::testing::Test {
 protected:
  std::string iniDirectory() const { return dir_.path() + "ini/"; }
  std::string accountFile() const { return dir_.ini("0001_account.ini"); }
  std::string csvFile() const { return dir_.path() + "accounts.csv"; }

  AccountListModel openModel(int hub = kHub) {
    std::string err;
    std::optional<AccountListModel> model = AccountListModel::open(iniDirectory(), hub, '#', &err);
    EXPECT_TRUE(model.has_value()) << err;
    return std::move(model).value();
  }

  void add(AccountListModel& model, const Account& account) {
    std::string err;
    ASSERT_TRUE(model.addAccount(account, &err)) << err;
  }

  CsvImportResult import(AccountListModel& model, const std::string& csv, CsvImportMode mode) {
    writeFile(csvFile(), csv);
    return model.importCsv(csvFile(), mode);
  }

  TempProgramDir dir_;
};

TEST_F(AccountCsvTest, ExportThenImportGivesTheSameAccounts) {
  AccountListModel source = openModel(1);
  Account alice = makeAccount(u"alice#x", u"\u00e9t\u00e9");
  alice.guest = true;
  Account bob = makeAccount(u"bob", u"pw");
  bob.status = AccountStatus::kLocked;
  bob.connectionMax = 1;
  bob.bridgeAllow = false;
  add(source, alice);
  add(source, bob);
  const CsvExportResult exported = source.exportCsv(csvFile());
  ASSERT_TRUE(exported.ok()) << exported.message;
  EXPECT_EQ(readFile(csvFile()),
            "alice#x,\xC3\xA9t\xC3\xA9,guest,use,multi,bridgeallow\r\n"
            "bob,pw,normal,locked,single,bridgedisallow\r\n");

  AccountListModel target = openModel(2);
  const CsvImportResult imported = target.importCsv(csvFile(), CsvImportMode::kReplaceAll);
  ASSERT_TRUE(imported.ok()) << imported.message;
  EXPECT_EQ(imported.added, 2u);
  EXPECT_EQ(target.accounts(), source.accounts());
  const hub::AccountStore store(iniDirectory(), 2, '#');
  const std::optional<hub::AccountLogin> login = hubLogin(store, u"alice#x", u"\u00e9t\u00e9");
  ASSERT_TRUE(login.has_value());
  EXPECT_TRUE(login->guest);
  EXPECT_EQ(store.domainIndexOfAccount(u"alice#x"), 1);
  EXPECT_EQ(store.statusOf(u"bob"), AccountStatus::kLocked);
}

TEST_F(AccountCsvTest, ExportStopsAtTheFirstNameItCannotWrite) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"good", u"pw"));
  add(model, makeAccount(u"bad\xD800", u"pw"));
  add(model, makeAccount(u"later", u"\xDC00"));
  writeFile(csvFile(), "previous export\r\n");
  const CsvExportResult result = model.exportCsv(csvFile());
  EXPECT_EQ(result.error, CsvError::kNameNotWritable);
  EXPECT_EQ(result.failedName, u"bad\xD800");
  EXPECT_NE(result.message.find("bad\xEF\xBF\xBD"), std::string::npos) << result.message;
  // Nothing is written: a file that ends early would pass for a whole export.
  EXPECT_EQ(readFile(csvFile()), "previous export\r\n");
}

TEST_F(AccountCsvTest, ExportNamesTheAccountWhosePasswordItCannotWrite) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"good", u"pw"));
  add(model, makeAccount(u"carol", u"x\xDC00"));
  const CsvExportResult result = model.exportCsv(csvFile());
  EXPECT_EQ(result.error, CsvError::kPasswordNotWritable);
  EXPECT_EQ(result.failedName, u"carol");
  EXPECT_FALSE(fileExists(csvFile()));
}

TEST_F(AccountCsvTest, ExportToAMissingFolderFails) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"good", u"pw"));
  const CsvExportResult result = model.exportCsv(dir_.path() + "no/such/folder/a.csv");
  EXPECT_EQ(result.error, CsvError::kCannotOpen);
  EXPECT_FALSE(result.message.empty());
}

TEST_F(AccountCsvTest, ImportSkipsLinesWithoutComma) {
  AccountListModel model = openModel();
  const CsvImportResult result = import(model,
                                        "account list\r\n"
                                        "\r\n"
                                        "alice,pw,normal,use,single,bridgeallow\r\n"
                                        "\n"
                                        "bob,pw,guest,use,multi,bridgeallow\n",
                                        CsvImportMode::kKeepExisting);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.added, 2u);
  ASSERT_EQ(model.accounts().size(), 2u);
  EXPECT_EQ(model.accounts()[1].name, u"bob");
  EXPECT_TRUE(model.accounts()[1].guest);
}

TEST_F(AccountCsvTest, FailedImportChangesNothing) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"existing", u"pw"));
  const std::string fileBefore = readFile(accountFile());
  const std::vector<Account> accountsBefore = model.accounts();
  const std::string good = "alice,pw,normal,use,single,bridgeallow\r\n";
  const std::string fill = "a,b,normal,use,single,bridgeallow";
  struct Row {
    const char* what;
    std::string csv;
    CsvImportMode mode;
    CsvError error;
    int line;
  };
  const Row rows[] = {
      {"last line without line end", good + "bob,pw,normal,use,single,bridgeallow",
       CsvImportMode::kKeepExisting, CsvError::kBadLine, 2},
      {"replace all, then a bad line", good + good + "x,pw,normal,use,none\r\n",
       CsvImportMode::kReplaceAll, CsvError::kBadConnections, 3},
      {"overwrite, then a bad type", "existing,new,normal,use,multi\r\nbob,pw,boss,use,multi\r\n",
       CsvImportMode::kOverwriteSameName, CsvError::kBadType, 2},
      {"bad state", good + "\r\nbob,pw,normal,off,multi\r\n", CsvImportMode::kKeepExisting,
       CsvError::kBadState, 3},
      {"name too long", std::string(65, 'n') + ",pw,normal,use,multi\r\n",
       CsvImportMode::kKeepExisting, CsvError::kNameTooLong, 1},
      {"password too long", "a," + std::string(65, 'p') + ",normal,use,multi\r\n",
       CsvImportMode::kKeepExisting, CsvError::kPasswordTooLong, 1},
      // 1024 bytes with the line feed do not fit the 1024-byte buffer with its zero byte.
      {"line of 1024 bytes", good + fill + std::string(1023 - fill.size(), ' ') + "\n",
       CsvImportMode::kKeepExisting, CsvError::kBadLine, 2},
      {"zero byte", good + std::string("bob,pw\0,normal,use,multi\r\n", 27),
       CsvImportMode::kKeepExisting, CsvError::kBadLine, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const CsvImportResult result = import(model, row.csv, row.mode);
    EXPECT_EQ(result.error, row.error);
    EXPECT_EQ(result.line, row.line);
    EXPECT_NE(result.message.find("line " + std::to_string(row.line) + ":"), std::string::npos)
        << result.message;
    EXPECT_EQ(readFile(accountFile()), fileBefore);
    EXPECT_EQ(model.accounts(), accountsBefore);
  }
}

TEST_F(AccountCsvTest, LineOf1023BytesIsTaken) {
  AccountListModel model = openModel();
  const std::string fill = "a,b,normal,use,single,bridgeallow";
  const CsvImportResult result = import(model, fill + std::string(1022 - fill.size(), ' ') + "\n",
                                        CsvImportMode::kKeepExisting);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(model.readPassword(u"a"), u"b");
}

TEST_F(AccountCsvTest, MissingFileCannotBeOpened) {
  AccountListModel model = openModel();
  const CsvImportResult result =
      model.importCsv(dir_.path() + "missing.csv", CsvImportMode::kReplaceAll);
  EXPECT_EQ(result.error, CsvError::kCannotOpen);
  EXPECT_FALSE(result.message.empty());
}

TEST_F(AccountCsvTest, DuplicateNamesFollowTheMode) {
  struct Row {
    CsvImportMode mode;
    std::vector<std::u16string> names;
    std::u16string alicePassword;
    std::size_t added;
    std::size_t replaced;
    std::size_t kept;
  };
  const Row rows[] = {
      // The replaced account moves to the end of the list, as a delete and an add would.
      {CsvImportMode::kOverwriteSameName, {u"bob", u"alice", u"carol"}, u"new", 1, 1, 0},
      {CsvImportMode::kKeepExisting, {u"alice", u"bob", u"carol"}, u"old", 1, 0, 1},
      {CsvImportMode::kReplaceAll, {u"alice", u"carol"}, u"new", 2, 0, 0},
  };
  int hub = 10;
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode));
    AccountListModel model = openModel(++hub);
    add(model, makeAccount(u"alice", u"old"));
    add(model, makeAccount(u"bob", u"pw"));
    const CsvImportResult result =
        import(model, "alice,new,guest,use,multi\r\ncarol,pw,normal,use,multi\r\n", row.mode);
    ASSERT_TRUE(result.ok()) << result.message;
    std::vector<std::u16string> names;
    for (const Account& account : model.accounts()) {
      names.push_back(account.name);
    }
    EXPECT_EQ(names, row.names);
    EXPECT_EQ(model.readPassword(u"alice"), row.alicePassword);
    EXPECT_EQ(result.added, row.added);
    EXPECT_EQ(result.replaced, row.replaced);
    EXPECT_EQ(result.kept, row.kept);
    const hub::AccountStore store(iniDirectory(), hub, '#');
    EXPECT_EQ(store.accountCount(), row.names.size());
    EXPECT_TRUE(hubLogin(store, u"alice", row.alicePassword).has_value());
  }
}

TEST_F(AccountCsvTest, SameNameTwiceInOneFile) {
  AccountListModel keep = openModel(1);
  ASSERT_TRUE(import(keep, "a,first,normal,use,multi\r\na,second,normal,use,multi\r\n",
                     CsvImportMode::kKeepExisting)
                  .ok());
  EXPECT_EQ(keep.readPassword(u"a"), u"first");
  AccountListModel overwrite = openModel(2);
  ASSERT_TRUE(import(overwrite, "a,first,normal,use,multi\r\na,second,normal,use,multi\r\n",
                     CsvImportMode::kOverwriteSameName)
                  .ok());
  EXPECT_EQ(overwrite.readPassword(u"a"), u"second");
  EXPECT_EQ(overwrite.accounts().size(), 1u);
}

TEST_F(AccountCsvTest, ReplaceAllWithAnEmptyFileEmptiesTheList) {
  AccountListModel model = openModel();
  add(model, makeAccount(u"alice", u"pw"));
  ASSERT_TRUE(import(model, "no accounts here\r\n", CsvImportMode::kReplaceAll).ok());
  EXPECT_TRUE(model.accounts().empty());
  EXPECT_EQ(hub::AccountStore(iniDirectory(), kHub, '#').accountCount(), 0u);
}

TEST_F(AccountCsvTest, ImportStopsAtTheAccountLimit) {
  std::string csv;
  for (std::size_t i = 0; i <= kMaxAccounts; ++i) {
    csv += "user" + std::to_string(i) + ",pw,normal,use,multi\r\n";
  }
  AccountListModel model = openModel();
  add(model, makeAccount(u"existing", u"pw"));
  const std::string before = readFile(accountFile());
  // With the existing account, the 1000th line would make 1001 accounts.
  const CsvImportResult result = import(model, csv, CsvImportMode::kKeepExisting);
  EXPECT_EQ(result.error, CsvError::kListFull);
  EXPECT_EQ(result.line, static_cast<int>(kMaxAccounts));
  EXPECT_EQ(readFile(accountFile()), before);
  EXPECT_EQ(model.accounts().size(), 1u);

  // Replacing all, the first 1000 lines fit and the 1001st is refused.
  const CsvImportResult replacing = import(model, csv, CsvImportMode::kReplaceAll);
  EXPECT_EQ(replacing.error, CsvError::kListFull);
  EXPECT_EQ(replacing.line, static_cast<int>(kMaxAccounts) + 1);
  EXPECT_EQ(readFile(accountFile()), before);
}

TEST_F(AccountCsvTest, ImportedDomainsAreNumberedAsTheHubNumbersThem) {
  AccountListModel model = openModel();
  ASSERT_TRUE(import(model,
                     "a#x,pw,normal,use,multi\r\nb,pw,normal,use,multi\r\n"
                     "c#y,pw,normal,use,multi\r\nd#x,pw,normal,use,multi\r\n",
                     CsvImportMode::kReplaceAll)
                  .ok());
  std::vector<int> indexes;
  for (const Account& account : model.accounts()) {
    indexes.push_back(account.domainIndex);
  }
  EXPECT_EQ(indexes, (std::vector<int>{1, 0, 2, 1}));
  const hub::AccountStore store(iniDirectory(), kHub, '#');
  EXPECT_EQ(store.domainIndexOfAccount(u"d#x"), 1);
  EXPECT_EQ(store.domainIndexOfAccount(u"c#y"), 2);
}

}  // namespace
}  // namespace korvane::panel
