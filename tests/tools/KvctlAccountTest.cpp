// kvctl's account and filter commands, run as the program, read back through the hub's own
// readers: what kvctl was given is what a hub enforces.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "common/HubClient.h"
#include "hub/AccountStore.h"
#include "hub/HostFilter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::tools {
namespace {

class KvctlAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ok({"hub", "create", "Office"});
    ok({"splitter", "set", "#"});
  }

  testing::ProgramResult kvctl(const std::vector<std::string>& args) {
    return testing::runProgram(testing::builtProgram("kvctl"), args, dir_.path());
  }
  void ok(const std::vector<std::string>& args) {
    const auto result = kvctl(args);
    ASSERT_EQ(result.status, 0) << args[0] << " " << args[1] << ": " << result.err;
  }
  std::string passwordFile(const std::string& password) {
    const std::string path = dir_.path() + "password-" + std::to_string(files_++);
    testing::writeFile(path, password + "\n");
    return path;
  }
  void addAccount(const std::string& name, const std::string& password,
                  std::vector<std::string> flags = {}) {
    std::vector<std::string> args = {
        "account", "add", "1", name, "--password-file", passwordFile(password)};
    args.insert(args.end(), flags.begin(), flags.end());
    ok(args);
  }
  std::string accountFile() const { return testing::readFile(dir_.ini("0001_account.ini")); }
  std::string filterFile() const { return testing::readFile(dir_.ini("0001_hosts.ini")); }

  // True when the hub's account store lets `name` in with `password`.
  static bool logsIn(const hub::AccountStore& store, const std::string& name,
                     const std::string& password) {
    std::array<std::uint8_t, common::kChallengeSize> challenge{};
    for (std::size_t i = 0; i < challenge.size(); ++i) {
      challenge[i] = static_cast<std::uint8_t>(0x30 + 7 * i);
    }
    const auto answer = common::challengeAnswer(challenge, {name, password});
    if (!answer) {
      return false;
    }
    const auto login = store.authenticate(*answer, challenge);
    return login && login->name == std::u16string(name.begin(), name.end());
  }

  testing::TempProgramDir dir_;
  int files_ = 0;
};

TEST_F(KvctlAccountTest, HubReadsTheAccountsKvctlWrote) {
  addAccount("alice#sales", "alice-pw");
  addAccount("bob#sales", "bob-pw", {"--guest"});
  addAccount("carol#dev", "carol-pw", {"--single", "--no-bridge"});
  addAccount("dave", std::string(64, 'd'));
  addAccount("erin", "erin-pw", {"--locked"});
  ok({"account", "set", "1", "bob#sales", "--bridge", "off"});
  ok({"account", "lock", "1", "alice#sales"});
  ok({"account", "unlock", "1", "alice#sales"});
  ok({"account", "passwd", "1", "dave", "--password-file", passwordFile("new-dave")});

  const hub::AccountStore store(dir_.path() + "ini/", 1, '#');
  EXPECT_EQ(store.accountCount(), 5u);
  EXPECT_TRUE(logsIn(store, "alice#sales", "alice-pw"));
  EXPECT_TRUE(logsIn(store, "bob#sales", "bob-pw"));
  EXPECT_TRUE(logsIn(store, "dave", "new-dave"));
  EXPECT_FALSE(logsIn(store, "dave", std::string(64, 'd')));
  EXPECT_FALSE(logsIn(store, "erin", "erin-pw")) << "a locked account cannot log in";
  EXPECT_FALSE(logsIn(store, "alice#sales", "wrong"));

  EXPECT_EQ(store.domainIndexOfAccount(u"alice#sales"), 1);
  EXPECT_EQ(store.domainIndexOfAccount(u"bob#sales"), 1);
  EXPECT_EQ(store.domainIndexOfAccount(u"carol#dev"), 2);
  EXPECT_EQ(store.domainIndexOfAccount(u"dave"), 0);
  EXPECT_EQ(store.highestDomainIndex(), 2);
  EXPECT_TRUE(store.guestFlagOf(u"bob#sales"));
  EXPECT_FALSE(store.guestFlagOf(u"alice#sales"));
  EXPECT_FALSE(store.bridgeAllowOf(u"bob#sales"));
  EXPECT_FALSE(store.bridgeAllowOf(u"carol#dev"));
  EXPECT_TRUE(store.bridgeAllowOf(u"dave"));
  EXPECT_EQ(store.statusOf(u"erin"), common::AccountStatus::kLocked);

  // carol may hold one connection at a time.
  hub::AccountStore counting(dir_.path() + "ini/", 1, '#');
  EXPECT_TRUE(counting.acquire(u"carol#dev"));
  EXPECT_FALSE(counting.acquire(u"carol#dev"));

  const auto list = kvctl({"account", "list", "1", "--json"});
  EXPECT_NE(list.out.find("{\"name\": \"carol#dev\", \"domain\": \"dev\", \"domainIndex\": 2, "
                          "\"type\": \"normal\", \"state\": \"use\", \"connections\": \"single\", "
                          "\"bridge\": false}"),
            std::string::npos)
      << list.out;
}

TEST_F(KvctlAccountTest, HubAppliesTheRulesInTheOrderKvctlLeft) {
  ok({"filter", "add", "1", "office", "--address", "192.168.1.0", "--mask", "255.255.255.0",
      "--allow"});
  ok({"filter", "add", "1", "nobody", "--address", "0.0.0.0", "--mask", "0.0.0.0", "--deny"});
  ok({"filter", "add", "1", "lab", "--host", "lab.example", "--allow"});
  ok({"filter", "move", "1", "office", "down"});  // now: nobody, office, lab

  hub::HostFilter filter(dir_.path() + "ini/", 1);
  const auto office = filter.checkAddress({192, 168, 1, 20}, "pc.office.example");
  const auto outside = filter.checkAddress({203, 0, 113, 5}, "elsewhere.example");
  const auto lab = filter.checkAddress({203, 0, 113, 6}, "host.lab.example");
  ASSERT_TRUE(office && outside && lab);
  EXPECT_TRUE(office->allowed) << "office comes after nobody and so decides";
  EXPECT_FALSE(outside->allowed);
  EXPECT_TRUE(lab->allowed);

  ok({"filter", "edit", "1", "office", "--deny"});
  ok({"filter", "delete", "1", "lab"});
  ASSERT_TRUE(filter.loadRules(nullptr));
  EXPECT_FALSE(filter.checkAddress({192, 168, 1, 20}, "pc")->allowed);
  EXPECT_FALSE(filter.checkAddress({203, 0, 113, 6}, "host.lab.example")->allowed);

  const auto list = kvctl({"filter", "list", "1"});
  EXPECT_EQ(list.out,
            "ORDER | NAME | MATCH | ACTION\n"
            "1 | nobody | address 0.0.0.0/0.0.0.0 | deny\n"
            "2 | office | address 192.168.1.0/255.255.255.0 | deny\n");
}

TEST_F(KvctlAccountTest, CsvRoundTripThroughKvctl) {
  addAccount("alice#sales", "pw-a");
  addAccount("bob", "pw-b", {"--guest"});
  const std::string csv = dir_.path() + "accounts.csv";
  ok({"account", "export", "1", csv});
  ok({"account", "delete", "1", "bob"});
  const auto imported = kvctl({"account", "import", "1", csv, "--mode", "keep"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "added 1, replaced 0, kept 1\n");
  const hub::AccountStore store(dir_.path() + "ini/", 1, '#');
  EXPECT_TRUE(logsIn(store, "bob", "pw-b"));
  EXPECT_TRUE(store.guestFlagOf(u"bob"));
}

TEST_F(KvctlAccountTest, EveryRefusalSaysWhyAndChangesNothing) {
  addAccount("alice", "pw");
  ok({"filter", "add", "1", "office", "--address", "192.168.1.0", "--mask", "255.255.255.0",
      "--allow"});
  const std::string badCsv = dir_.path() + "bad.csv";
  testing::writeFile(badCsv, "carol,pw,normal,use,multi\r\ndave,pw,superuser,use,multi\r\n");
  const std::string accounts = accountFile();
  const std::string rules = filterFile();

  struct Row {
    std::vector<std::string> args;
    std::string messageStart;
  };
  const Row rows[] = {
      {{"account", "add", "1", "alice", "--password-file", passwordFile("x")}, "kvctl: "},
      {{"account", "add", "1", "frank"}, "kvctl: give the password with"},
      {{"account", "add", "1", std::string(65, 'n'), "--password-file", passwordFile("x")},
       "kvctl: "},
      {{"account", "add", "2", "frank", "--password-file", passwordFile("x")}, "kvctl: no hub 2"},
      {{"account", "lock", "1", "nobody"}, "kvctl: no account 'nobody' on hub 1"},
      {{"account", "set", "1", "alice", "--guest", "perhaps"}, "kvctl: guest must be on or off"},
      {{"account", "set", "1", "alice"}, "kvctl: nothing to change"},
      {{"account", "import", "1", badCsv}, "kvctl: "},
      {{"account", "import", "1", dir_.path() + "missing.csv"}, "kvctl: "},
      {{"account", "import", "1", badCsv, "--mode", "merge"}, "kvctl: mode must be"},
      {{"filter", "add", "1", "office", "--host", "x", "--allow"}, "kvctl: "},
      {{"filter", "add", "1", "lan", "--address", "192.168.1.256", "--mask", "255.255.255.0",
        "--allow"},
       "kvctl: "},
      {{"filter", "add", "1", "lan", "--address", "192.168..1", "--mask", "255.255.255.0",
        "--deny"},
       "kvctl: "},
      {{"filter", "add", "1", "lan", "--address", "10.0.0.0", "--allow"},
       "kvctl: an address rule needs both --address and --mask"},
      {{"filter", "add", "1", "lan", "--host", "x"}, "kvctl: give --allow or --deny"},
      {{"filter", "add", "1", "lan", "--host", "x", "--address", "1.2.3.4", "--mask", "255.0.0.0",
        "--allow"},
       "kvctl: a rule matches by --host"},
      {{"filter", "move", "1", "office", "sideways"}, "kvctl: a rule moves up or down"},
      {{"filter", "edit", "1", "nobody", "--deny"}, "kvctl: no rule 'nobody' on hub 1"},
      {{"filter", "delete", "1", "nobody"}, "kvctl: "},
  };
  for (const auto& row : rows) {
    std::string call;
    for (const auto& word : row.args) {
      call += word + " ";
    }
    SCOPED_TRACE(call);
    const auto result = kvctl(row.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind(row.messageStart, 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
    EXPECT_EQ(accountFile(), accounts);
    EXPECT_EQ(filterFile(), rules);
  }
}

TEST_F(KvctlAccountTest, CsvErrorNamesItsLine) {
  const std::string badCsv = dir_.path() + "bad.csv";
  testing::writeFile(badCsv, "carol,pw,normal,use,multi\r\ndave,pw,superuser,use,multi\r\n");
  const auto result = kvctl({"account", "import", "1", badCsv});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("2"), std::string::npos) << result.err;
  EXPECT_FALSE(testing::fileExists(dir_.ini("0001_account.ini")));
}

}  // namespace
}  // namespace korvane::tools

namespace korvane::tools {
namespace {

// The set-up above, made purely through kvctl, serves real logins once the hub runs.
TEST_F(KvctlAccountTest, HubSetUpThroughKvctlLetsItsAccountsLogIn) {
  const int port = testing::freeTcpPort();
  ok({"hub", "set", "1", "--port", std::to_string(port), "--auth", "on"});
  addAccount("alice#sales", "alice-pw");
  addAccount("erin", "erin-pw", {"--locked"});
  testing::ChildProcess hub(testing::builtProgram("kvhub"), {"0001"}, dir_.path(),
                            dir_.path() + "hub-output.txt");
  const auto login = [&](const std::string& name, const std::string& password) {
    common::HubClient client;
    std::string err;
    const bool connected = testing::waitUntil(
        [&] { return client.connect("127.0.0.1", port, &err); }, std::chrono::seconds(10));
    EXPECT_TRUE(connected) << err;
    return client.login(true, common::Credentials{name, password}, std::chrono::seconds(10),
                        &err);
  };
  EXPECT_EQ(login("alice#sales", "alice-pw"), common::LoginResult::kAccepted);
  EXPECT_EQ(login("erin", "erin-pw"), common::LoginResult::kDenied);
}

}  // namespace
}  // namespace korvane::tools
