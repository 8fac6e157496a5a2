// The dynamic DNS update against real HTTP and HTTPS servers on loopback, and the choice of the
// adapter address.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

#include "manager/DnsUpdate.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;
using testing::scramblePassCode;

constexpr const char* kAdapter = "00:1a:2b:3c:4d:5e";

class DnsUpdateTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv(common::kCaFileVariable); }

  DnsUpdateResult update(const std::string& address) {
    DnsUpdateSettings settings;
    settings.logPath = dir_.log("dnsupdate.log");
    settings.totalLimit = 1500ms;
    settings.adapterAddress = [] { return std::string(kAdapter); };
    testing::writeFile(settings.logPath, "---------");
    return runDnsUpdate(scramblePassCode(address), settings);
  }
  std::string log() const { return testing::readFile(dir_.log("dnsupdate.log")); }

  testing::TempProgramDir dir_;
};

TEST_F(DnsUpdateTest, EveryReplyLeavesItsText) {
  for (bool tls : {false, true}) {
    HttpTestServer server(dir_.path(), tls);
    ASSERT_TRUE(server.started());
    setenv(common::kCaFileVariable, server.caFile().c_str(), 1);
    const struct {
      const char* mode;
      DnsUpdateResult result;
      std::string log;
    } cases[] = {
        {"ok", DnsUpdateResult::kSuccess, HttpTestServer::okBody()},  // kept whole
        {"nolength", DnsUpdateResult::kSuccess, "Updated without a length: OK"},
        {"notcorrect", DnsUpdateResult::kPassCodeRefused, "ERROR: UpdateCode is not correct."},
        {"inuse", DnsUpdateResult::kPassCodeInUse, "ERROR: UpdateCode is used by another device."},
        {"invalid", DnsUpdateResult::kInvalidReply, "ERROR: Server returned an invalid response."},
        {"huge", DnsUpdateResult::kNoCommunication,
         "ERROR: Could not communicate with the server."},
        {"silent", DnsUpdateResult::kNoCommunication,
         "ERROR: Could not communicate with the server."},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(tls ? "https " : "http ") + c.mode);
      const auto begin = std::chrono::steady_clock::now();
      EXPECT_EQ(update(server.origin() + "/update?code=abc&mode=" + c.mode), c.result);
      EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
      EXPECT_EQ(log(), c.log);
    }
    // Each request carried the adapter address and the agent name.
    for (const auto& request : server.requests()) {
      EXPECT_TRUE(request.starts_with("GET /update?code=abc&mode=")) << request;
      EXPECT_NE(request.find(std::string("&mac_address=") + kAdapter + "|WININET Sample Program"),
                std::string::npos)
          << request;
    }
  }
}

TEST_F(DnsUpdateTest, PassCodesThatCannotBeSentMakeNoRequest) {
  HttpTestServer server(dir_.path(), false);
  ASSERT_TRUE(server.started());
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(update("ftp://127.0.0.1:" + port + "/update?code=abc"),
            DnsUpdateResult::kPassCodeRefused);
  EXPECT_EQ(log(), "ERROR: Could not decrypt DNS Update Pass Code.");
  DnsUpdateSettings settings;
  settings.logPath = dir_.log("dnsupdate.log");
  EXPECT_EQ(runDnsUpdate("@@@@", settings), DnsUpdateResult::kPassCodeRefused);
  EXPECT_EQ(log(), "");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(DnsUpdateTest, NoServerIsNoCommunication) {
  const std::string port = std::to_string(testing::freeTcpPort());
  EXPECT_EQ(update("http://127.0.0.1:" + port + "/update?code=abc"),
            DnsUpdateResult::kNoCommunication);
  EXPECT_EQ(log(), "ERROR: Could not communicate with the server.");
}

TEST(DnsAdapterAddress, TakesTheFirstGloballyAdministeredEthernetOrPppAdapter) {
  using platform::AdapterType;
  const platform::Adapter loopback{"lo", 1, AdapterType::kOther, {0, 0, 0, 0, 0, 0}, {}};
  const platform::Adapter wireless{"wlan0", 2, AdapterType::kWireless, {0, 1, 2, 3, 4, 5}, {}};
  const platform::Adapter local{"veth0", 3, AdapterType::kEthernet, {0x02, 1, 2, 3, 4, 5}, {}};
  const platform::Adapter longAddress{
      "ib0", 4, AdapterType::kEthernet, {0, 1, 2, 3, 4, 5, 6, 7}, {}};
  const platform::Adapter ppp{
      "ppp0", 5, AdapterType::kPpp, {0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5}, {}};
  const platform::Adapter ethernet{"eth0", 6, AdapterType::kEthernet, {0, 0x1a, 0x2b, 3, 4, 5}, {}};
  const struct {
    const char* name;
    std::vector<platform::Adapter> adapters;
    const char* address;
  } cases[] = {
      {"none", {}, "00:00:00:00:00:00"},
      {"only unsuitable ones", {loopback, wireless, local, longAddress}, "00:00:00:00:00:00"},
      {"ppp first", {wireless, ppp, ethernet}, "a0:b1:c2:d3:e4:f5"},
      {"ethernet first", {local, ethernet, ppp}, "00:1a:2b:03:04:05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chooseAdapterAddress(c.adapters), c.address);
  }
}

}  // namespace
}  // namespace korvane::manager
