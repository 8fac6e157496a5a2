#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "hub/DhcpBlockFlags.h"
#include "hub/DhcpServiceList.h"
#include "hub/DomainDhcp.h"
#include "platform/Clock.h"

namespace korvane::hub {

class AccountStore;
class LeaseWriter;
class SocketPort;

/// The DHCP side of a hub's domains: one DHCP service per domain index, each domain's BlockDHCP
/// flag, and the one lock that guards both. The port threads have frames examined and leased
/// addresses looked up here; the control pipe rebuilds it after an account reload; shut-down
/// lets its services go. Nothing here touches the disk while a port thread waits: lease changes
/// are written behind by the hub's lease writer.
///
/// Lock order: this lock, then the port manager's (a rebuild cuts clients under it).
class DhcpDomains {
 public:
  /// No services yet; settings and lease files lie in `iniDirectory` (ending in '/') of hub
  /// `hubNumber`, lease times come from `clock`, and lease changes are written by `writer`
  /// (null: never written).
  DhcpDomains(std::string iniDirectory, int hubNumber, const platform::Clock& clock,
              std::shared_ptr<LeaseWriter> writer);
  DhcpDomains(const DhcpDomains&) = delete;
  DhcpDomains& operator=(const DhcpDomains&) = delete;

  /// Start-up: one service per domain of `accounts`, each with its settings and its leases, and
  /// the BlockDHCP flags.
  void load(const AccountStore& accounts);

  /// Lets the service of `port`'s domain examine one record of that port (see
  /// DomainDhcp::handleFrame); kSwitch when the domain has no service.
  DhcpExamination examine(const SocketPort& port, std::span<const std::uint8_t> record,
                          std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                          std::string* addressText);

  /// The address leased to `station` in `port`'s domain, as display text; empty when it has
  /// none or the domain has no service.
  std::string addressTextOf(const SocketPort& port, std::span<const std::uint8_t, 6> station);

  /// After an account reload, all under the lock so that no frame is examined half way:
  /// `moveClients` gives the connected ports their new domain indexes, the services are rebuilt
  /// (see rebuildDhcpServices), `settingsChanged` is called for each domain whose DHCP settings
  /// changed, and the BlockDHCP flags are read again.
  void rebuild(const AccountStore& accounts, const std::function<void()>& moveClients,
               const std::function<void(int domainIndex)>& settingsChanged);

  /// Shut-down: lets every service go; frames are switched unexamined from then on.
  void clear();

 private:
  DomainDhcp* serviceAt(int domainIndex) const;
  bool blockedLocked(int domainIndex) const;
  void loadBlockFlagsLocked(const AccountStore& accounts);

  const std::string iniDirectory_;
  const int hubNumber_;
  const platform::Clock& clock_;
  const std::shared_ptr<LeaseWriter> writer_;

  mutable std::mutex mutex_;
  DhcpServiceList services_;  // position = domain index
  BlockFlags blockFlags_{};
};

}  // namespace korvane::hub
