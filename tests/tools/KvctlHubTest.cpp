// kvctl's hub and splitter commands, run as the program: output, exit status, and files left
// unchanged by every refusal.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/ManagerPipeStub.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::tools {
namespace {

class KvctlHubTest : public ::testing::Test {
 protected:
  testing::ProgramResult kvctl(const std::vector<std::string>& args) {
    return testing::runProgram(testing::builtProgram("kvctl"), args, dir_.path());
  }
  void ok(const std::vector<std::string>& args) {
    const auto result = kvctl(args);
    ASSERT_EQ(result.status, 0) << result.err;
  }
  std::string config() const { return testing::readFile(dir_.ini("Tollmar.ini")); }

  testing::TempProgramDir dir_;
};

TEST_F(KvctlHubTest, CreatesListsAndChangesHubs) {
  const auto created = kvctl({"hub", "create", "Alpha"});
  EXPECT_EQ(created.status, 0);
  EXPECT_EQ(created.out, "created hub 0001\n");
  ok({"hub", "create", "Beta", "--json"});
  ok({"hub", "set", "2", "--port", "7002", "--auth", "on", "--max-connections", "8", "--log-months",
      "0", "--log-days", "30"});
  ok({"hub", "start", "0002"});

  const auto list = kvctl({"hub", "list", "--json"});
  ASSERT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("{\"number\": 2, \"name\": \"Beta\", \"status\": \"on\", \"port\": "
                          "7002, \"auth\": true, \"maxConnections\": 8, \"snatPort\": 0, "
                          "\"logMonths\": 0, \"logDays\": 30}"),
            std::string::npos)
      << list.out;
  EXPECT_NE(config().find("[0002]\r\nHubName=Beta\r\nStatus=ON\r\nPortNo=7002\r\nAuthFlag=1\r\n"
                          "MaxCon=8\r\nGarbageMonths=0\r\nGarbageDays=30\r\n"),
            std::string::npos)
      << config();

  ok({"hub", "delete", "1"});
  EXPECT_EQ(config().find("[0001]"), std::string::npos);
}

TEST_F(KvctlHubTest, EveryRefusalSaysWhyAndChangesNothing) {
  ok({"hub", "create", "Alpha"});
  ok({"hub", "create", "Beta"});
  ok({"hub", "set", "1", "--port", "7001"});
  const std::string before = config();

  struct Row {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Row rows[] = {
      {{"hub", "create", "Alpha"}, 1, "kvctl: hub name 'Alpha' is taken\n"},
      {{"hub", "set", "2", "--port", "7001"}, 1, "kvctl: port 7001 is used by another hub\n"},
      {{"hub", "set", "2", "--port", "65536"},
       1,
       "kvctl: port must be a whole number from 1 to 65535, not '65536'\n"},
      {{"hub", "set", "2", "--port", "12x"},
       1,
       "kvctl: port must be a whole number from 1 to 65535, not '12x'\n"},
      // Nothing is written when any one of several changes is refused.
      {{"hub", "set", "2", "--name", "Gamma", "--max-connections", "513"},
       1,
       "kvctl: connection limit must be a whole number from 1 to 512, not '513'\n"},
      {{"hub", "set", "2", "--name", "Alpha"}, 1, "kvctl: hub name 'Alpha' is taken\n"},
      {{"hub", "set", "2", "--auth", "maybe"},
       1,
       "kvctl: authentication must be on or off, not 'maybe'\n"},
      {{"hub", "set", "9", "--port", "7009"}, 1, "kvctl: no hub 9\n"},
      {{"hub", "delete", "0"},
       1,
       "kvctl: hub number must be a whole number from 1 to 9999, not '0'\n"},
      {{"hub", "start", "3"}, 1, "kvctl: no hub 3\n"},
      {{"splitter", "set", "ab"},
       1,
       "kvctl: the splitter is one visible ASCII character, or 'none', not 'ab'\n"},
      // A blank or a byte above ASCII would never match a name's character as itself.
      {{"splitter", "set", " "},
       1,
       "kvctl: the splitter is one visible ASCII character, or 'none', not ' '\n"},
      {{"hub", "set", "2", "--colour", "red"},
       2,
       "kvctl: unknown option --colour for 'hub set'; see kvctl hub set --help\n"},
      {{"hub", "set", "2", "--port"}, 2, "kvctl: option --port needs a value\n"},
      {{"hub", "frobnicate"}, 2, "kvctl: unknown command 'hub frobnicate'; see kvctl --help\n"},
  };
  for (const auto& row : rows) {
    std::string call;
    for (const auto& word : row.args) {
      call += word + " ";
    }
    SCOPED_TRACE(call);
    const auto result = kvctl(row.args);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.err, row.message);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(config(), before);
  }
}

TEST_F(KvctlHubTest, DeletedHubLeavesNothingToItsSuccessor) {
  ok({"hub", "create", "Alpha"});
  const std::string password = dir_.path() + "password";
  testing::writeFile(password, "secret\n");
  ok({"account", "add", "1", "alice", "--password-file", password});
  ok({"filter", "add", "1", "lab", "--host", "lab.example", "--allow"});
  // What the running hub and its DHCP settings would have left.
  for (const char* name : {"0001__dhcp.leases", "0001_lab_dhcp.leases", "0001_dhcp.ini"}) {
    testing::writeFile(dir_.ini(name), "[DHCP_ENTRY_1]\r\nLeaseExpireTime=1\r\n");
  }
  ok({"hub", "delete", "1"});

  // The next hub takes the lowest free number, 1 again, and starts empty.
  EXPECT_EQ(kvctl({"hub", "create", "Beta"}).out, "created hub 0001\n");
  EXPECT_EQ(kvctl({"account", "list", "1", "--json"}).out, "[\n]\n");
  EXPECT_EQ(kvctl({"filter", "list", "1", "--json"}).out, "[\n]\n");
  for (const char* name : {"0001_account.ini", "0001_hosts.ini", "0001_dhcp.ini",
                           "0001__dhcp.leases", "0001_lab_dhcp.leases"}) {
    EXPECT_FALSE(testing::fileExists(dir_.ini(name))) << name;
  }
}

TEST_F(KvctlHubTest, ThirtyFourthHubIsRefused) {
  for (int i = 1; i <= 33; ++i) {
    ok({"hub", "create", "hub" + std::to_string(i)});
  }
  const std::string before = config();
  const auto result = kvctl({"hub", "create", "one too many"});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(result.err.empty());
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  EXPECT_EQ(config(), before);
}

TEST_F(KvctlHubTest, SplitterIsShownAndSet) {
  EXPECT_EQ(kvctl({"splitter", "show"}).out, "none\n");
  ok({"splitter", "set", "#"});
  EXPECT_EQ(kvctl({"splitter", "show"}).out, "#\n");
  EXPECT_EQ(kvctl({"splitter", "show", "--json"}).out, "{\"splitter\": \"#\"}\n");
  ok({"splitter", "set", "none"});
  EXPECT_NE(config().find("DomainSplitter=<NONE>"), std::string::npos);
}

TEST_F(KvctlHubTest, HelpIsThereForEveryCommand) {
  for (const auto& command : std::vector<std::vector<std::string>>{{"--help"},
                                                                   {"hub", "list", "--help"},
                                                                   {"hub", "set", "--help"},
                                                                   {"splitter", "set", "--help"},
                                                                   {"status", "--help"},
                                                                   {"watch", "--help"}}) {
    const auto result = kvctl(command);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("usage: kvctl"), std::string::npos);
  }
  EXPECT_EQ(kvctl({}).status, 2);
}

TEST_F(KvctlHubTest, StatusTellsStoppedAndSilentHubs) {
  ok({"hub", "create", "Alpha"});
  ok({"hub", "create", "Beta"});
  ok({"hub", "set", "2", "--port", "7002"});
  testing::writeFile(dir_.ini("Tollmar.ini"),
                     config() + "");  // keep; switching on without a manager needs no reload
  ok({"hub", "start", "2"});
  const auto result = kvctl({"status", "--json"});
  ASSERT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\"number\": 1, \"name\": \"Alpha\", \"switch\": \"off\", \"port\": 0, "
                            "\"state\": \"stopped\""),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\"state\": \"not-answering\""), std::string::npos) << result.out;
}

TEST_F(KvctlHubTest, ManagerThatDoesNotConfirmTheReloadFailsTheCommandAndKeepsTheChange) {
  ok({"hub", "create", "Alpha"});  // no manager runs: the change waits for its start
  dir_.useForThisProcess();
  testing::ManagerPipeStub manager(testing::ManagerPipeStub::Reply::kCloseWithoutAnswer);
  ASSERT_TRUE(manager.running()) << manager.error();

  struct Row {
    std::vector<std::string> args;
    const char* written;  // what the file holds afterwards
    bool present;
  };
  const Row rows[] = {
      {{"hub", "start", "1"}, "[0001]\r\nHubName=Alpha\r\nStatus=ON\r\n", true},
      {{"hub", "stop", "1"}, "[0001]\r\nHubName=Alpha\r\nStatus=OFF\r\n", true},
      {{"hub", "create", "Beta"}, "[0002]\r\nHubName=Beta\r\n", true},
      {{"hub", "delete", "2"}, "[0002]", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[1]);
    const auto result = kvctl(row.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("but the manager did not confirm the reload"), std::string::npos)
        << result.err;
    EXPECT_EQ(config().find(row.written) != std::string::npos, row.present) << config();
  }
  EXPECT_EQ(manager.requests(), 4);
}

}  // namespace
}  // namespace korvane::tools
