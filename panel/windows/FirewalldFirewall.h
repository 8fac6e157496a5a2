#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>
#include <vector>

#include "panel/logic/FirewallStep.h"

namespace korvane::panel {

/// The firewall of the machine as firewalld offers it on the system bus: the ports open in its
/// default zone, and opening one there, for now and for its next start.
class FirewalldFirewall : public Firewall {
 public:
  /// The service's well-known name on the bus.
  static constexpr const char* kServiceName = "org.fedoraproject.FirewallD1";
  /// A call to the firewall waits at most this long: it answers at once when it runs, and the
  /// panel's start-up must not hang on a stuck service.
  static constexpr int kCallTimeoutMs = 5000;

  /// Step codes that string 101 shows when a port cannot be opened: in the running zone, or in
  /// the zone's stored settings.
  static constexpr int kRuntimeAddFailed = 354;
  static constexpr int kPermanentAddFailed = 346;

  /// The firewall on `bus` (the system bus in the program, a test's own bus in tests).
  explicit FirewalldFirewall(QDBusConnection bus = QDBusConnection::systemBus())
      : bus_(std::move(bus)) {}

  std::optional<std::vector<ZonePort>> openPorts() override;
  bool openTcpPort(int port, int* step) override;

 private:
  std::optional<QString> defaultZone();

  QDBusConnection bus_;
  std::optional<QString> zone_;
};

}  // namespace korvane::panel
