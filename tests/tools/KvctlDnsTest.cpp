// kvctl dns: storing and clearing the pass code, and what a refused one leaves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ManagerConfig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PassCodeScrambler.h"
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

}  // namespace
}  // namespace korvane::tools
