#pragma once

#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/NetworkNamespace.h"

namespace korvane::testing {

/// A home router for UPnP tests: miniupnpd in a namespace of its own between a LAN namespace
/// (the hub's side, 192.168.77.2) and a WAN namespace whose address looks public. No namespace
/// has a route out, and the LAN side has no default route either, as on a machine whose only
/// way out is the router it has not found yet.
class UpnpTestRouter {
 public:
  static constexpr const char* kRouterLan = "192.168.77.1";
  static constexpr const char* kHubAddress = "192.168.77.2";
  /// Routers refuse mappings behind a private WAN address; this one looks public and is routed
  /// nowhere.
  static constexpr const char* kRouterWan = "25.1.1.1";
  static constexpr const char* kWanClient = "25.1.1.2";

  /// Why the router cannot run here (no root, no namespaces, no miniupnpd); empty when it can.
  static std::string skipReason();

  /// Makes and links the three namespaces; false with a message in `err`.
  [[nodiscard]] bool link(std::string* err);
  /// Starts miniupnpd with its files in `folder` (ending in '/') and waits until it listens;
  /// `secureMode` lets a client map only to itself. False with a message in `err`.
  [[nodiscard]] bool start(const std::string& folder, bool secureMode, std::string* err);

  NetworkNamespace& lan() const { return *lan_; }
  NetworkNamespace& router() const { return *router_; }
  NetworkNamespace& wan() const { return *wan_; }
  /// What miniupnpd wrote, for the logs of its requests.
  std::string output() const;

 private:
  std::unique_ptr<NetworkNamespace> lan_, router_, wan_;
  std::unique_ptr<ChildProcess> miniupnpd_;
  std::string outputFile_;
};

}  // namespace korvane::testing
