// Process-level tests of kvhub: start-up checks, the ways a hub is stopped, and its banners.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/ControlMessage.h"
#include "platform/LocalPipe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::readFile;
using testing::waitUntil;

constexpr auto kStartLimit = 10s;
constexpr auto kStopLimit = 10s;

class HubProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.useForThisProcess(); }

  void writeConfig(const std::string& hubSection) {
    testing::writeFile(dir_.ini("Tollmar.ini"),
                       "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n[0001]\r\n" + hubSection);
  }
  void writeConfigWithFreePort() {
    writeConfig("HubName=test\r\nStatus=ON\r\nPortNo=" + std::to_string(testing::freeTcpPort()) +
                "\r\n");
  }

  std::unique_ptr<ChildProcess> startHub(const std::vector<std::string>& args) {
    return std::make_unique<ChildProcess>(testing::builtProgram("kvhub"), args, dir_.path(),
                                          dir_.path() + "output.txt");
  }

  std::string rotatingLog() const { return readFile(dir_.log("0001_1.log")); }

  // True once the hub has logged its start and serves its control pipe.
  bool waitForServing() {
    return waitUntil([&] { return rotatingLog().find("Process started") != std::string::npos; },
                     kStartLimit) &&
           waitUntil([&] { return fileExistsInPipeFolder(); }, kStartLimit);
  }
  bool fileExistsInPipeFolder() const { return testing::fileExists(dir_.path() + "pipe/KVHUB_0001"); }

  // Sends one control request and waits until the hub has taken it.
  bool sendCommand(std::uint32_t magic, std::uint32_t command) {
    std::string err;
    auto pipe = platform::openPipe(common::hubPipeName(1), &err);
    if (!pipe) {
      ADD_FAILURE() << err;
      return false;
    }
    common::ControlHeader request;
    request.magic = magic;
    request.command = command;
    const auto bytes = common::encodeControlHeader(request);
    return pipe->writeAll(bytes) && pipe->finishAndWaitForClose(5s);
  }

  bool logDirectoryIsEmpty() const {
    return std::filesystem::is_empty(dir_.path() + "log");
  }

  testing::TempProgramDir dir_;
};

TEST_F(HubProcessTest, RefusesToStartWithoutHubNumberOrPortAndLogsNothing) {
  writeConfigWithFreePort();
  struct Row {
    const char* what;
    std::vector<std::string> args;
  };
  const Row rows[] = {
      {"no arguments", {}},
      {"hub number of 32 characters", {std::string(31, '0') + "1"}},
      {"hub number 0", {"0000"}},
      {"hub number 10000", {"10000"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto hub = startHub(row.args);
    EXPECT_EQ(hub->waitForExit(kStopLimit), 255);
    EXPECT_TRUE(logDirectoryIsEmpty());
  }
}

TEST_F(HubProcessTest, RefusesToStartWithoutPort) {
  const char* sections[] = {"HubName=test\r\nPortNo=0\r\n", "HubName=test\r\n",
                            "PortNo=65536\r\n"};  // 65536 is port 0 once cut to 16 bits
  for (const char* section : sections) {
    SCOPED_TRACE(section);
    writeConfig(section);
    auto hub = startHub({"0001"});
    EXPECT_EQ(hub->waitForExit(kStopLimit), 255);
    EXPECT_TRUE(logDirectoryIsEmpty());
  }
}

TEST_F(HubProcessTest, StopCommandEndsTheHubInOrder) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());

  ASSERT_TRUE(sendCommand(common::kControlMagic, 1));
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);

  const std::string log = rotatingLog();
  const std::string stars(35, '*');
  EXPECT_NE(log.find(" \r\n"), std::string::npos) << "the empty line before the start banner";
  EXPECT_NE(log.find(" " + stars + "\r\n"), std::string::npos);
  EXPECT_NE(log.find(" \r\n"), std::string::npos);
  const auto started = log.find("          Process started           \r\n");
  const auto signal = log.find(" Detect Termination Signal !\r\n");
  const auto terminated = log.find("         Process terminated         \r\n");
  ASSERT_NE(started, std::string::npos);
  ASSERT_NE(signal, std::string::npos);
  ASSERT_NE(terminated, std::string::npos);
  EXPECT_LT(started, signal);
  EXPECT_LT(signal, terminated);
}

TEST_F(HubProcessTest, WrongMagicIsNotAnsweredAndTheNextClientIsServed) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());

  ASSERT_TRUE(sendCommand(0x00FF00FF, 1));
  EXPECT_FALSE(hub->waitForExit(300ms)) << "a request with a wrong magic must not stop the hub";

  ASSERT_TRUE(waitUntil([&] { return sendCommand(common::kControlMagic, 1); }, 5s));
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);
}

TEST_F(HubProcessTest, UnknownCommandsOnlyDisconnect) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());

  for (std::uint32_t command : {0u, 4u, 6u, 10u, 99u}) {
    ASSERT_TRUE(sendCommand(common::kControlMagic, command)) << command;
  }
  EXPECT_FALSE(hub->waitForExit(200ms));
  ASSERT_TRUE(sendCommand(common::kControlMagic, 1));
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);
}

TEST_F(HubProcessTest, SilentClientDoesNotBlockTheHub) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());

  std::string err;
  auto silent = platform::openPipe(common::hubPipeName(1), &err);
  ASSERT_TRUE(silent) << err;
  // The silent client holds the one instance; the stop request waits behind it and is served
  // once the hub has given up on the silent one.
  ASSERT_TRUE(sendCommand(common::kControlMagic, 1));
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);
}

TEST_F(HubProcessTest, EndOfManagerProcessStopsTheHub) {
  writeConfigWithFreePort();
  ChildProcess manager("/bin/sleep", {"60"}, dir_.path());
  ASSERT_TRUE(manager.started());
  auto hub = startHub({"0001", std::to_string(manager.pid())});
  ASSERT_TRUE(waitForServing());
  EXPECT_FALSE(hub->waitForExit(200ms));

  manager.kill();
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);
  const std::string log = rotatingLog();
  const auto detected = log.find(" Detect Tollmar Terminated !\r\n");
  const auto terminated = log.find("Process terminated");
  ASSERT_NE(detected, std::string::npos);
  ASSERT_NE(terminated, std::string::npos);
  EXPECT_LT(detected, terminated);
  EXPECT_EQ(log.find("Detect Termination Signal !"), std::string::npos);
}

TEST_F(HubProcessTest, TerminationSignalStopsTheHubInOrder) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());

  ASSERT_EQ(::kill(hub->pid(), SIGTERM), 0);
  EXPECT_EQ(hub->waitForExit(kStopLimit), 0);
  EXPECT_NE(rotatingLog().find("Process terminated"), std::string::npos);
}

TEST_F(HubProcessTest, DailyLogCarriesTheSameBanners) {
  writeConfigWithFreePort();
  auto hub = startHub({"0001"});
  ASSERT_TRUE(waitForServing());
  ASSERT_TRUE(sendCommand(common::kControlMagic, 1));
  ASSERT_EQ(hub->waitForExit(kStopLimit), 0);

  std::string daily;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path() + "log")) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 17 && name.rfind("0001_", 0) == 0) {
      daily = readFile(entry.path().string());
    }
  }
  ASSERT_FALSE(daily.empty()) << "no daily log file 0001_YYYYMMDD.log";
  EXPECT_NE(daily.find("]          Process started           \r\n"), std::string::npos);
  EXPECT_NE(daily.find("]         Process terminated         \r\n"), std::string::npos);
}

}  // namespace
}  // namespace korvane::hub
