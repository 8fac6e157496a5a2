#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hub/DomainDhcp.h"
#include "platform/Clock.h"

namespace korvane::hub {

class AccountStore;
class LeaseWriter;

/// The DHCP services of a hub, one per domain index (position = index), as DhcpDomains keeps them.
using DhcpServiceList = std::vector<std::shared_ptr<DomainDhcp>>;

/// What rebuilding the services after an account reload gives.
struct DhcpRebuild {
  /// The new list, one service per domain index from 0 to the account store's highest.
  DhcpServiceList services;
  /// Domains whose settings changed and whose services start anew without leases: their
  /// clients are to be cut and their logins refused for a while, so that they come back under
  /// the new settings.
  std::vector<int> changedDomains;
};

/// The services after the account store `accounts` was (re)loaded: an existing service whose
/// domain still exists and whose settings file section reads the same moves to its domain's
/// current index with its leases; one whose settings changed is replaced by a fresh service
/// without leases (its index is listed in changedDomains); one whose domain no longer exists is
/// dropped, except the global domain's, which always stays at index 0; every index still empty
/// gets a new service with its settings and its lease file loaded. Settings and lease files lie
/// in `iniDirectory` of hub `hubNumber`; new services have their lease changes written by
/// `writer`. Entries of `current` that are not DhcpService objects are dropped. Never fails:
/// unreadable settings give disabled services.
DhcpRebuild rebuildDhcpServices(const DhcpServiceList& current, const std::string& iniDirectory,
                                int hubNumber, const AccountStore& accounts,
                                const platform::Clock& clock,
                                const std::shared_ptr<LeaseWriter>& writer);

/// The services of a hub at start-up: one per domain index from 0 to the account store's
/// highest, each with its settings and its lease file loaded, their lease changes written by
/// `writer`.
DhcpServiceList makeDhcpServices(const std::string& iniDirectory, int hubNumber,
                                 const AccountStore& accounts, const platform::Clock& clock,
                                 const std::shared_ptr<LeaseWriter>& writer);

}  // namespace korvane::hub
