// The UPnP client against a real home router: miniupnpd in a namespace of its own between a LAN
// namespace (the hub's side) and a WAN namespace whose address looks public. No namespace has a
// route out, and the LAN side has no default route either, as on a machine whose only way out is
// the router it has not found yet.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/UpnpClient.h"
#include "platform/TcpConnection.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempProgramDir.h"
#include "tests/support/UpnpTestRouter.h"

namespace korvane {
namespace {

using testing::NetworkNamespace;
using testing::UpnpTestRouter;
using namespace std::chrono_literals;

constexpr const char* kRouterWan = UpnpTestRouter::kRouterWan;
constexpr const char* kWanClient = UpnpTestRouter::kWanClient;
constexpr const char* kHubAddress = UpnpTestRouter::kHubAddress;
constexpr int kHubPort = 7100;

class UpnpRouter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = UpnpTestRouter::skipReason(); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string err;
    ASSERT_TRUE(net_.link(&err)) << err;
    lan_ = &net_.lan();
    wan_ = &net_.wan();
  }

  void TearDown() override { hub_.reset(); }

  void startRouter(bool secureMode) {
    std::string err;
    ASSERT_TRUE(net_.start(dir_.path(), secureMode, &err)) << err;
  }

  testing::ProgramResult kvctl(const std::vector<std::string>& args) {
    std::vector<std::string> command{testing::builtProgram("kvctl"), "upnp"};
    command.insert(command.end(), args.begin(), args.end());
    return lan_->run(command, 30s);
  }

  void startHub(int snatPort) {
    testing::writeFile(
        dir_.ini("Tollmar.ini"),
        "[SYSTEM]\r\n[0001]\r\nHubName=lan\r\nStatus=ON\r\nPortNo=" + std::to_string(kHubPort) +
            "\r\nAuthFlag=0\r\nMaxCon=16\r\nSNATPort=" + std::to_string(snatPort) + "\r\n");
    testing::ChildProcess::Options options;
    options.outputFile = dir_.path() + "kvhub.out";
    hub_ = lan_->start(testing::builtProgram("kvhub"), {"0001"}, dir_.path(), options);
    ASSERT_TRUE(hub_->started());
  }

  std::string hubLog() {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() + "log")) {
      if (entry.path().filename().string().find("0001_") == 0) {
        text += testing::readFile(entry.path().string());
      }
    }
    return text;
  }

  // Maps the hub's port to another LAN computer, as another program there would.
  void mapToOtherComputer() {
    std::string err;
    bool done = false;
    std::thread inLan([&] {
      if (!lan_->enterOnThisThread(&err)) {
        return;
      }
      common::UpnpClient client;
      auto router = client.discover(&err);
      if (!router) {
        return;
      }
      common::PortMappingRequest request{kHubPort, kHubPort, "TCP", "192.168.77.99", "other", 0};
      const auto answer =
          client.callAction(*router, common::UpnpAction::kAddPortMapping,
                            common::addPortMappingBody(router->service.serviceType, request), &err);
      done = answer && answer->status == 200;
    });
    inLan.join();
    ASSERT_TRUE(done) << err;
  }

  testing::TempProgramDir dir_;
  UpnpTestRouter net_;
  NetworkNamespace* lan_ = nullptr;
  NetworkNamespace* wan_ = nullptr;
  std::unique_ptr<testing::ChildProcess> hub_;
};

TEST_F(UpnpRouter, KvctlShowsAddsChecksAndDeletes) {
  startRouter(false);
  auto result = kvctl({"external-address"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, std::string(kRouterWan) + "\n");

  result = kvctl({"check", std::to_string(kHubPort)});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("is not mapped"), std::string::npos) << result.out;
  result = kvctl({"add", std::to_string(kHubPort)});
  EXPECT_EQ(result.status, 0) << result.err;
  result = kvctl({"check", std::to_string(kHubPort), "--json"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\"mapped\": true"), std::string::npos) << result.out;
  result = kvctl({"delete", std::to_string(kHubPort)});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(kvctl({"check", std::to_string(kHubPort)}).status, 1);
}

TEST_F(UpnpRouter, KvctlWithoutRouterFailsWithOneLine) {
  const auto result = kvctl({"external-address"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "kvctl: upnp: no router answered the discovery search within 10 s\n");
}

TEST_F(UpnpRouter, MappingOfAnotherComputerIsTakenOverWhereAllowed) {
  startRouter(false);
  mapToOtherComputer();
  auto result = kvctl({"check", std::to_string(kHubPort)});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("mapped to 192.168.77.99"), std::string::npos) << result.out;
  result = kvctl({"add", std::to_string(kHubPort)});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(kvctl({"check", std::to_string(kHubPort)}).status, 0);
}

TEST_F(UpnpRouter, RefusedTakeOverFailsWithTheFaultCode) {
  startRouter(true);  // secure mode: a client may only map to itself and delete its own
  // In secure mode the other computer's mapping can only come from itself; it is absent, so the
  // refusal comes from asking to map to an address that is not ours.
  std::string err;
  bool refused = false;
  std::thread inLan([&] {
    if (!lan_->enterOnThisThread(&err)) {
      return;
    }
    common::UpnpClient client;
    auto router = client.discover(&err);
    if (!router) {
      return;
    }
    common::PortMappingRequest request{kHubPort, kHubPort, "TCP", "192.168.77.99", "other", 0};
    const auto answer =
        client.callAction(*router, common::UpnpAction::kAddPortMapping,
                          common::addPortMappingBody(router->service.serviceType, request), &err);
    refused = answer && answer->status == 500 && common::soapFaultCode(answer->body) != 0;
    err = answer ? common::describeRefusal(common::UpnpAction::kAddPortMapping, *answer) : err;
  });
  inLan.join();
  EXPECT_TRUE(refused) << err;
  EXPECT_NE(err.find("SOAP fault"), std::string::npos) << err;
}

TEST_F(UpnpRouter, HubMapsItsPortAndIsReachedFromTheWanSide) {
  startRouter(false);
  startHub(kHubPort);
  ASSERT_TRUE(testing::waitUntil(
      [&] { return hubLog().find("SNAT Reconfiguring OK") != std::string::npos; }, 15s))
      << hubLog();

  std::string err;
  bool reached = false;
  std::thread inWan([&] {
    if (!wan_->enterOnThisThread(&err)) {
      return;
    }
    auto connection = platform::TcpConnection::connect(kRouterWan, kHubPort, &err);
    reached = connection.has_value();
  });
  inWan.join();
  ASSERT_TRUE(reached) << err;
  EXPECT_TRUE(testing::waitUntil(
      [&] { return hubLog().find(std::string(kWanClient) + ":") != std::string::npos; }, 5s))
      << hubLog();
  hub_.reset();

  // A hub started again finds its mapping in place and asks for none.
  startHub(kHubPort);
  ASSERT_TRUE(testing::waitUntil(
      [&] { return hubLog().find("SNAT Checking OK") != std::string::npos; }, 15s))
      << hubLog();
  const std::string routerLog = net_.output();
  const std::string add = "#AddPortMapping";
  EXPECT_EQ(routerLog.find(add), routerLog.rfind(add)) << routerLog;
}

TEST_F(UpnpRouter, HubWithSnatPortZeroSendsNothing) {
  startRouter(false);
  startHub(0);
  ASSERT_TRUE(testing::waitUntil(
      [&] { return hubLog().find("Process started") != std::string::npos; }, 5s));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(hubLog().find("SNAT"), std::string::npos) << hubLog();
  EXPECT_EQ(net_.output().find(kHubAddress), std::string::npos);
}

}  // namespace
}  // namespace korvane
