// The manager process keeps the DNS name current: updates after each change of the
// configuration file, reloads while an update hangs, and never shows the update address.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/ManagerConfig.h"
#include "common/ManagerPipeClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/ProcessList.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::waitUntil;

// A change is picked up within a second; the margin covers a loaded test machine.
constexpr auto kWithinASecond = 2500ms;

class DnsUpdateProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.useForThisProcess();
    std::filesystem::create_symlink(testing::builtProgram("kvhub"), dir_.path() + "kvhub");
  }

  std::string address(const std::string& mode) const {
    return server_.origin() + "/update?code=secret-update-code&mode=" + mode;
  }
  void writeConfig(const std::string& passCode, const char* status = "OFF") {
    testing::writeFile(dir_.ini("Tollmar.ini"),
                       "[SYSTEM]\r\nDNSUpdatePassCode=" + passCode +
                           "\r\n[0001]\r\nHubName=one\r\nStatus=" + status +
                           "\r\nPortNo=" + std::to_string(testing::freeTcpPort()) + "\r\n");
  }
  std::unique_ptr<ChildProcess> startManager(const std::vector<std::string>& args = {}) {
    ChildProcess::Options options;
    options.outputFile = dir_.path() + "manager-output.txt";
    options.workingDirectory = dir_.path();
    return std::make_unique<ChildProcess>(testing::builtProgram("Tollmar"), args, dir_.path(),
                                          options);
  }
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) {
    return waitUntil([&] { return server_.requests().size() >= count; }, limit);
  }
  std::string dnsLog() const { return testing::readFile(dir_.log("dnsupdate.log")); }

  testing::TempProgramDir dir_;
  testing::HttpTestServer server_{dir_.path(), false};
};

TEST_F(DnsUpdateProcessTest, EveryWriteOfTheFileRepeatsTheUpdateWithinASecond) {
  ASSERT_TRUE(server_.started());
  writeConfig(testing::scramblePassCode(address("ok")));
  auto manager = startManager({"S"});  // the foreground mode prints the most
  ASSERT_TRUE(waitForRequests(1, kWithinASecond));
  EXPECT_NE(server_.requests()[0].find("&mac_address="), std::string::npos);
  EXPECT_TRUE(waitUntil([&] { return dnsLog() == testing::HttpTestServer::okBody(); }, 2s));

  common::ManagerConfig config(dir_.ini("Tollmar.ini"));
  ASSERT_TRUE(config.writeName(1, "renamed", nullptr));
  EXPECT_TRUE(waitForRequests(2, kWithinASecond));

  // kvctl stores a new pass code and shows the update pending, then its outcome.
  testing::writeFile(dir_.path() + "code.txt", testing::scramblePassCode(address("inuse"), 20));
  const auto stored = testing::runProgram(
      testing::builtProgram("kvctl"), {"dns", "set-pass-code", "--file", dir_.path() + "code.txt"},
      dir_.path());
  ASSERT_EQ(stored.status, 0) << stored.err;
  EXPECT_TRUE(waitForRequests(3, kWithinASecond));
  EXPECT_TRUE(
      waitUntil([&] { return dnsLog() == "ERROR: UpdateCode is used by another device."; }, 2s));
  const auto status =
      testing::runProgram(testing::builtProgram("kvctl"), {"dns", "status"}, dir_.path());
  EXPECT_EQ(status.out.rfind("ERROR: UpdateCode is used by another device.\nwritten ", 0), 0u)
      << status.out;

  manager->kill();
  manager->waitForExit(5s);
  const std::string output = testing::readFile(dir_.path() + "manager-output.txt") +
                             testing::readFile(dir_.path() + "Tollmar.log");
  EXPECT_NE(output.find("iPassCodeSize:"), std::string::npos);
  EXPECT_EQ(output.find("secret-update-code"), std::string::npos);
  EXPECT_EQ(output.find("127.0.0.1"), std::string::npos);
}

TEST_F(DnsUpdateProcessTest, AReloadIsServedWhileAnUpdateHangs) {
  ASSERT_TRUE(server_.started());
  writeConfig(testing::scramblePassCode(address("silent")));
  auto manager = startManager();
  ASSERT_TRUE(waitForRequests(1, kWithinASecond));  // the update now waits for its answer

  writeConfig(testing::scramblePassCode(address("silent")), "ON");
  const auto begin = std::chrono::steady_clock::now();
  std::string err;
  ASSERT_EQ(common::requestManagerReload(&err), common::ReloadResult::kConfirmed) << err;
  EXPECT_TRUE(waitUntil(
      [&] {
        for (const auto& child : testing::childProcesses(manager->pid())) {
          if (child.arguments.size() == 3 && child.arguments[1] == "0001") {
            return true;
          }
        }
        return false;
      },
      3s));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
  EXPECT_EQ(testing::readFile(dir_.path() + "manager-output.txt").find("secret"),
            std::string::npos);
}

}  // namespace
}  // namespace korvane::manager
