// kvctl dns: storing and clearing the pass code, what a refused one leaves, and redeeming a
// pickup code at the registration service.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "common/ManagerConfig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/RegistrationTestService.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::tools {
namespace {

class KvctlDnsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\nDNSUpdatePassCode=OLD\r\n");
  }
  testing::ProgramResult kvctl(const std::vector<std::string>& args) {
    return testing::runProgram(testing::builtProgram("kvctl"), args, dir_.path());
  }
  testing::ProgramResult setFrom(const std::string& content) {
    testing::writeFile(dir_.path() + "code.txt", content);
    return kvctl({"dns", "set-pass-code", "--file", dir_.path() + "code.txt"});
  }
  std::string passCode() const {
    return common::ManagerConfig(dir_.ini("Tollmar.ini")).readPassCode();
  }
  std::string log() const { return testing::readFile(dir_.log("dnsupdate.log")); }

  testing::TempProgramDir dir_;
};

TEST_F(KvctlDnsTest, StoresAPassCodeAndShowsTheUpdatePending) {
  const std::string code = testing::scramblePassCode("https://dns.example/u?code=abc", 8);
  const auto result = setFrom(code);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(passCode(), testing::scramblePassCode("https://dns.example/u?code=abc"));
  EXPECT_EQ(log(), "---------");
  const auto status = kvctl({"dns", "status", "--json"});
  EXPECT_EQ(status.out.rfind("{\"log\": \"---------\", \"ageSeconds\": ", 0), 0u) << status.out;
  ASSERT_EQ(kvctl({"dns", "clear"}).status, 0);
  EXPECT_EQ(passCode(), "");
  EXPECT_FALSE(testing::fileExists(dir_.log("dnsupdate.log")));
}

TEST_F(KvctlDnsTest, RefusedCodesLeaveTheStoredOneAndTheLog) {
  testing::writeFile(dir_.log("dnsupdate.log"), "last outcome");
  const std::string cases[] = {
      "",                                                    // nothing
      "not base64 @@@",                                      // nothing decodes
      testing::scramblePassCode("ftp://dns.example/u?c=1"),  // not an http address
      std::string(1100, 'A'),                                // longer than the manager takes
  };
  for (const auto& content : cases) {
    SCOPED_TRACE(content.substr(0, 30));
    const auto result = setFrom(content);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.err.empty());
    EXPECT_EQ(passCode(), "OLD");
    EXPECT_EQ(log(), "last outcome");
  }
  // The code is never taken from the command line.
  EXPECT_EQ(kvctl({"dns", "set-pass-code", "QUJD"}).status, 2);
}

using namespace std::chrono_literals;
using Service = testing::RegistrationTestService;

// A new pass code is picked up within a second; the margin covers a loaded test machine.
constexpr auto kWithinASecond = 2500ms;

class KvctlRedeemTest : public KvctlDnsTest {
 protected:
  std::string updateAddress() const {
    return dnsServer_.origin() + "/update?code=redeemed&mode=ok";
  }
  testing::ProgramResult redeem(const std::string& input) {
    testing::writeFile(dir_.path() + "pickup.txt", input);
    return testing::runProgram(testing::builtProgram("kvctl"), {"dns", "redeem"}, dir_.path(),
                               testing::ProgramInput{dir_.path() + "pickup.txt", {}});
  }

  testing::HttpTestServer dnsServer_{dir_.path(), false};
  Service service_{dir_.path(), testing::scramblePassCode(updateAddress())};
};

TEST_F(KvctlRedeemTest, TheRedeemedPassCodeReachesTheManagersNextUpdate) {
  ASSERT_TRUE(dnsServer_.started());
  ASSERT_TRUE(service_.started());
  testing::ChildProcess::Options options;
  options.outputFile = dir_.path() + "manager-output.txt";
  options.workingDirectory = dir_.path();
  testing::ChildProcess manager(testing::builtProgram("Tollmar"), {"S"}, dir_.path(), options);
  // The stored code "OLD" holds no update address, so the manager sends nothing yet.
  ASSERT_TRUE(testing::waitUntil([&] { return testing::fileExists(dir_.log("dnsupdate.log")); },
                                 kWithinASecond));

  // The code arrives on standard input, broken into lines as a mail would carry it.
  const auto result =
      redeem(testing::scramblePassCode(service_.origin() + "/kvp/pickup.jsp?ticket=T-1001", 16));
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(passCode(), testing::scramblePassCode(updateAddress()));
  EXPECT_TRUE(testing::waitUntil([&] { return !dnsServer_.requests().empty(); }, kWithinASecond));
  EXPECT_TRUE(testing::waitUntil([&] { return log() == testing::HttpTestServer::okBody(); }, 2s));
  ASSERT_FALSE(dnsServer_.requests().empty());
  EXPECT_NE(dnsServer_.requests()[0].find("code=redeemed&mode=ok&mac_address="), std::string::npos);
}

TEST_F(KvctlRedeemTest, ARefusedPickupCodeLeavesTheStoredCodeAndTheLog) {
  ASSERT_TRUE(service_.started());
  testing::writeFile(dir_.log("dnsupdate.log"), "last outcome");
  const std::string dead = "http://127.0.0.1:" + std::to_string(testing::freeTcpPort());
  const struct {
    const char* what;
    std::string input;
    std::string reply;  // of the pickup page
    const char* message;
  } cases[] = {
      {"nothing", " \r\n", "", "no pickup code"},
      {"longer than read", std::string(5000, 'A'), "", "too long"},
      {"no address", testing::scramblePassCode("ftp://127.0.0.1/p"), "", "not correct"},
      {"refused", service_.pickupCode(), "Error: PickupCode is not correct.", "not correct"},
      {"unreachable", testing::scramblePassCode(dead + "/p?t=1"), "", "cannot be reached"},
      {"no pass code", service_.pickupCode(), "OK: UpdatePassCode: \r\n", "unexpectedly (13)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.reply.empty()) {
      service_.setReply(Service::kPickupPage, c.reply);
    }
    const auto result = redeem(c.input);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(passCode(), "OLD");
    EXPECT_EQ(log(), "last outcome");
  }
}

TEST_F(KvctlRedeemTest, TheServiceIsFoundThroughTheRegistrationHostSetting) {
  ASSERT_TRUE(service_.started());
  const auto run = [&](const std::vector<std::string>& environment) {
    return testing::runProgram(testing::builtProgram("kvctl"), {"dns", "service", "--json"},
                               dir_.path(), testing::ProgramInput{"", environment});
  };
  auto result = run({"KORVANE_REGISTRATION_HOST="});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("SYSTEM/RegistrationHost"), std::string::npos) << result.err;

  testing::writeFile(dir_.ini("Tollmar.ini"),
                     "[SYSTEM]\r\nRegistrationHost=" + service_.host() + "\r\n");
  result = run({"KORVANE_REGISTRATION_HOST="});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.rfind("{\"baseDomain\": \"vlan.example\", \"urlBase\": \"" +
                                 service_.origin() + "/kvp/pages\"",
                             0),
            0u)
      << result.out;
  EXPECT_NE(
      result.out.find("\"addDomainPage\": \"" + service_.origin() + "/kvp/pages/add_domain.jsp\"}"),
      std::string::npos);

  testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\nRegistrationHost=127.0.0.1:1\r\n");
  EXPECT_EQ(run({"KORVANE_REGISTRATION_HOST=" + service_.host()}).status, 0);
}

}  // namespace
}  // namespace korvane::tools
