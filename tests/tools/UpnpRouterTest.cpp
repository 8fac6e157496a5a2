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

namespace korvane {
namespace {

using testing::NetworkNamespace;
using namespace std::chrono_literals;

constexpr const char* kMiniupnpd = "/usr/sbin/miniupnpd";
constexpr const char* kRouterLan = "192.168.77.1";
constexpr const char* kHubAddress = "192.168.77.2";
// Routers refuse mappings behind a private or carrier-grade WAN address; this one looks public and
// is routed nowhere, since no namespace has a route out.
constexpr const char* kRouterWan = "25.1.1.1";
constexpr const char* kWanClient = "25.1.1.2";
constexpr int kHubPort = 7100;

// The table skeleton that miniupnpd fills with its forwarding and address translation rules.
constexpr const char* kRuleset =
    "table inet filter {\n"
    "  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }\n"
    "  chain miniupnpd { }\n"
    "  chain prerouting { type nat hook prerouting priority -100; policy accept; "
    "jump prerouting_miniupnpd; }\n"
    "  chain postrouting { type nat hook postrouting priority 100; policy accept; "
    "jump postrouting_miniupnpd; }\n"
    "  chain prerouting_miniupnpd { }\n"
    "  chain postrouting_miniupnpd { }\n"
    "}\n";

class UpnpRouter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason = testing::networkNamespaceSkipReason();
    if (reason.empty() && !std::filesystem::exists(kMiniupnpd)) {
      reason = "miniupnpd is not installed (scripts/install-deps)";
    }
    if (!reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string err;
    lan_ = NetworkNamespace::create("ulan", &err);
    ASSERT_TRUE(lan_) << err;
    router_ = NetworkNamespace::create("urtr", &err);
    ASSERT_TRUE(router_) << err;
    wan_ = NetworkNamespace::create("uwan", &err);
    ASSERT_TRUE(wan_) << err;
    ASSERT_TRUE(router_->linkTo(*lan_, "rlan", std::string(kRouterLan) + "/24", "lan0",
                                std::string(kHubAddress) + "/24", &err))
        << err;
    ASSERT_TRUE(router_->linkTo(*wan_, "rwan", std::string(kRouterWan) + "/24", "wan0",
                                std::string(kWanClient) + "/24", &err))
        << err;
    // Answers to the WAN side go back through the router; there is still no default route.
    ASSERT_TRUE(lan_->runOk({"ip", "route", "add", "25.1.1.0/24", "via", kRouterLan}, &err)) << err;
    ASSERT_TRUE(router_->runOk({"sysctl", "-qw", "net.ipv4.ip_forward=1"}, &err)) << err;
  }

  void TearDown() override {
    hub_.reset();
    miniupnpd_.reset();  // killed by its process id
  }

  void startRouter(bool secureMode) {
    std::string err;
    testing::writeFile(dir_.path() + "router.nft", kRuleset);
    ASSERT_TRUE(router_->runOk({"nft", "-f", dir_.path() + "router.nft"}, &err)) << err;
    testing::writeFile(dir_.path() + "miniupnpd.conf",
                       "ext_ifname=rwan\nlistening_ip=rlan\nport=0\nenable_natpmp=no\n"
                       "enable_upnp=yes\nsystem_uptime=yes\nlease_file=" +
                           dir_.path() + "leases\nsecure_mode=" + (secureMode ? "yes" : "no") +
                           "\nuuid=8a1e229a-8d13-422f-8557-3bfd98bad8bc\n");
    testing::ChildProcess::Options options;
    options.outputFile = dir_.path() + "miniupnpd.out";
    miniupnpd_ = router_->start(kMiniupnpd,
                                {"-d", "-f", dir_.path() + "miniupnpd.conf", "-P",
                                 dir_.path() + "miniupnpd.pid"},
                                dir_.path(), options);
    ASSERT_TRUE(miniupnpd_->started());
    ASSERT_TRUE(testing::waitUntil(
        [&] {
          // Ready once its SSDP socket (port 1900, 076C in hexadecimal) is bound.
          return testing::readFile(options.outputFile).find("HTTP listening") !=
                     std::string::npos &&
                 router_->run({"cat", "/proc/net/udp"}).out.find(":076C") != std::string::npos;
        },
        5s));
    std::this_thread::sleep_for(100ms);  // and joined to the group, right after binding
  }

  testing::ProgramResult kvctl(const std::vector<std::string>& args) {
    std::vector<std::string> command{testing::builtProgram("kvctl"), "upnp"};
    command.insert(command.end(), args.begin(), args.end());
    return lan_->run(command, 30s);
  }

  void startHub(int snatPort) {
    testing::writeFile(dir_.ini("Tollmar.ini"),
                       "[SYSTEM]\r\n[0001]\r\nHubName=lan\r\nStatus=ON\r\nPortNo=" +
                           std::to_string(kHubPort) + "\r\nAuthFlag=0\r\nMaxCon=16\r\nSNATPort=" +
                           std::to_string(snatPort) + "\r\n");
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
      const auto answer = client.callAction(
          *router, common::UpnpAction::kAddPortMapping,
          common::addPortMappingBody(router->service.serviceType, request), &err);
      done = answer && answer->status == 200;
    });
    inLan.join();
    ASSERT_TRUE(done) << err;
  }

  testing::TempProgramDir dir_;
  std::unique_ptr<NetworkNamespace> lan_, router_, wan_;
  std::unique_ptr<testing::ChildProcess> miniupnpd_, hub_;
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
  EXPECT_EQ(result.err,
            "kvctl: upnp: no router answered the discovery search within 10 s\n");
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
    refused = answer && answer->status == 500 &&
              common::soapFaultCode(answer->body) != 0;
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
  const std::string routerLog = testing::readFile(dir_.path() + "miniupnpd.out");
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
  EXPECT_EQ(testing::readFile(dir_.path() + "miniupnpd.out").find(kHubAddress), std::string::npos);
}

}  // namespace
}  // namespace korvane
