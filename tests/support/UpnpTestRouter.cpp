#include "tests/support/UpnpTestRouter.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/TempProgramDir.h"

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kMiniupnpd = "/usr/sbin/miniupnpd";

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

}  // namespace

std::string UpnpTestRouter::skipReason() {
  std::string reason = networkNamespaceSkipReason();
  if (reason.empty() && !std::filesystem::exists(kMiniupnpd)) {
    reason = "miniupnpd is not installed (scripts/install-deps)";
  }
  return reason;
}

bool UpnpTestRouter::link(std::string* err) {
  lan_ = NetworkNamespace::create("ulan", err);
  router_ = lan_ ? NetworkNamespace::create("urtr", err) : nullptr;
  wan_ = router_ ? NetworkNamespace::create("uwan", err) : nullptr;
  return wan_ &&
         router_->linkTo(*lan_, "rlan", std::string(kRouterLan) + "/24", "lan0",
                         std::string(kHubAddress) + "/24", err) &&
         router_->linkTo(*wan_, "rwan", std::string(kRouterWan) + "/24", "wan0",
                         std::string(kWanClient) + "/24", err) &&
         // Answers to the WAN side go back through the router; there is still no default route.
         lan_->runOk({"ip", "route", "add", "25.1.1.0/24", "via", kRouterLan}, err) &&
         router_->runOk({"sysctl", "-qw", "net.ipv4.ip_forward=1"}, err);
}

bool UpnpTestRouter::start(const std::string& folder, bool secureMode, std::string* err) {
  writeFile(folder + "router.nft", kRuleset);
  if (!router_->runOk({"nft", "-f", folder + "router.nft"}, err)) {
    return false;
  }
  writeFile(folder + "miniupnpd.conf",
            "ext_ifname=rwan\nlistening_ip=rlan\nport=0\nenable_natpmp=no\n"
            "enable_upnp=yes\nsystem_uptime=yes\nlease_file=" +
                folder + "leases\nsecure_mode=" + (secureMode ? "yes" : "no") +
                "\nuuid=8a1e229a-8d13-422f-8557-3bfd98bad8bc\n");
  ChildProcess::Options options;
  outputFile_ = folder + "miniupnpd.out";
  options.outputFile = outputFile_;
  miniupnpd_ = router_->start(
      kMiniupnpd, {"-d", "-f", folder + "miniupnpd.conf", "-P", folder + "miniupnpd.pid"}, folder,
      options);
  if (!miniupnpd_->started()) {
    *err = "miniupnpd did not start";
    return false;
  }
  const bool ready = waitUntil(
      [&] {
        // Ready once its SSDP socket (port 1900, 076C in hexadecimal) is bound.
        return readFile(outputFile_).find("HTTP listening") != std::string::npos &&
               router_->run({"cat", "/proc/net/udp"}).out.find(":076C") != std::string::npos;
      },
      5s);
  if (!ready) {
    *err = "miniupnpd did not listen within 5 s: " + readFile(outputFile_);
    return false;
  }
  std::this_thread::sleep_for(100ms);  // and joined to the group, right after binding
  return true;
}

std::string UpnpTestRouter::output() const {
  return readFile(outputFile_);
}

}  // namespace korvane::testing
