#pragma once

// A kvhub process of a test's own, with helpers to connect clients and to read its log.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ControlMessage.h"
#include "common/HubClient.h"
#include "platform/LocalPipe.h"
#include "tests/hub/AccountFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {

class RunningHub {
 public:
  static constexpr std::chrono::seconds kLimit{10};

  /// Points this process at `dir` (pipes, files) for the hub's lifetime.
  explicit RunningHub(testing::TempProgramDir& dir) : dir_(dir) { dir_.useForThisProcess(); }
  ~RunningHub() {
    if (process_ && process_->started() && !process_->waitForExit(std::chrono::milliseconds(0))) {
      stop();
    }
  }

  /// Writes hub 0001's section (PortNo and `settings`) and account file, starts the hub and
  /// waits until it has logged its start.
  void start(const std::string& settings, const std::vector<TestAccount>& accounts = {},
             int port = 0) {
    port_ = port != 0 ? port : testing::freeTcpPort();
    testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\nDomainSplitter=#\r\n[0001]\r\nPortNo=" +
                                                    std::to_string(port_) + "\r\n" + settings);
    testing::writeFile(dir_.ini("0001_account.ini"), accountFileText(accounts));
    process_ = std::make_unique<testing::ChildProcess>(
        testing::builtProgram("kvhub"), std::vector<std::string>{"0001"}, dir_.path(),
        dir_.path() + "output.txt");
    ASSERT_TRUE(process_->started());
    ASSERT_TRUE(waitForLog("Process started"));
  }

  /// Sends the stop command and expects an orderly end.
  void stop() {
    sendCommand(common::HubCommand::kStop);
    EXPECT_EQ(process_->waitForExit(std::chrono::seconds(15)), 0);
  }

  /// Sends one control request and waits until the hub has taken it; false when it cannot.
  bool sendCommand(common::HubCommand command, std::uint32_t parameter = 0) {
    std::string err;
    auto pipe = platform::openPipe(common::hubPipeName(1), &err);
    if (!pipe) {
      return false;
    }
    const auto bytes = common::encodeControlHeader(
        {common::kControlMagic, 0, static_cast<std::uint32_t>(command), parameter});
    return pipe->writeAll(bytes) && pipe->finishAndWaitForClose(std::chrono::seconds(5));
  }

  /// A client connected to the hub; the first connections may come before the hub listens.
  std::unique_ptr<common::HubClient> connect(const std::string& host = "127.0.0.1") {
    std::unique_ptr<common::HubClient> client;
    const bool connected = testing::waitUntil(
        [&] {
          client = std::make_unique<common::HubClient>();
          std::string err;
          return client->connect(host, port_, &err);
        },
        kLimit);
    EXPECT_TRUE(connected) << "cannot connect to the hub on " << host;
    if (connected) {
      client->setNoDelay(true);
    }
    return client;
  }

  std::unique_ptr<common::HubClient> loggedIn(std::optional<common::Credentials> account = {},
                                              const std::string& host = "127.0.0.1") {
    auto client = connect(host);
    std::string err;
    EXPECT_EQ(client->login(true, account, kLimit, &err), common::LoginResult::kAccepted) << err;
    return client;
  }

  std::string log() const { return testing::readFile(dir_.log("0001_1.log")); }
  bool waitForLog(const std::string& text) const {
    return testing::waitUntil([&] { return log().find(text) != std::string::npos; }, kLimit);
  }
  /// The number in the last "Current Connection Count = %d" line; -1 without one.
  int lastConnectionCount() const {
    const std::string text = log();
    const std::string line = "Current Connection Count = ";
    const auto at = text.rfind(line);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + line.size());
  }

  int port() const { return port_; }
  testing::ChildProcess& process() { return *process_; }

 private:
  testing::TempProgramDir& dir_;
  std::unique_ptr<testing::ChildProcess> process_;
  int port_ = 0;
};

}  // namespace korvane::hub
