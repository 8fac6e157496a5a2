#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "common/TimedMutex.h"
#include "common/PortListRecord.h"
#include "hub/ForwardEntry.h"
#include "hub/HubLogger.h"
#include "hub/MacTable.h"
#include "hub/SocketPort.h"

namespace korvane::hub {

class AccountStore;
class HostFilter;

/// One connection as the panel's connection list shows it (common/PortListRecord.h).
using PortListRecord = std::array<std::uint8_t, common::kPortListRecordSize>;

/// A port that has not logged in this long after it connected is cut.
inline constexpr std::chrono::milliseconds kLoginDeadline{10000};
/// A logged-in port that promised keep-alives and sent nothing for this long is cut.
inline constexpr std::chrono::milliseconds kKeepAliveTimeout{20000};

/// The hub's switch: a fixed table of `MaxCon` port slots, the MAC table, and the rule that
/// turns one receive pass of a port into one batch for every other port. Also the health check
/// and the whole-table operations of the control pipe. Every client is removed the same way:
/// its stream is cut and its own thread cleans it up.
///
/// Lock order: the DHCP domains' lock (a rebuild cuts clients), then this manager's lock, then
/// the MAC table's lock or a port's send queue.
class PortManager {
 public:
  /// A manager with `slotCount` slots (MaxCon, 1..512) and a MAC table sized for them, logging
  /// to `log`; its health check runs on `clock`.
  PortManager(std::shared_ptr<HubLogger> log, const platform::Clock& clock, int slotCount);
  PortManager(const PortManager&) = delete;
  PortManager& operator=(const PortManager&) = delete;

  int slotCount() const { return static_cast<int>(slots_.size()); }
  /// Ports in the slot table now; read without the lock.
  int usedCount() const { return usedCount_.load(); }

  /// Counts a new connection against MaxCon from the moment it is accepted until its clean-up
  /// (releaseConnection), so that a burst of connections cannot outrun the slot table. False
  /// when MaxCon connections exist.
  [[nodiscard]] bool reserveConnection();
  void releaseConnection();
  /// Connections counted by reserveConnection now.
  int connectionCount() const { return connections_.load(); }

  /// Puts `port` into the first free slot; nothing when it is already in one or none is free.
  void addPort(std::shared_ptr<SocketPort> port);
  /// Forgets the port's MAC addresses and clears its slot.
  void removePort(const SocketPort& port);
  /// Whether `port` is in a slot.
  bool holds(const SocketPort& port) const;

  /// Records that `address` lives on `port`, seen at tick `now` (see MacTable::learn).
  void learn(const MacAddress& address, const SocketPort& port, platform::Tick now) {
    macTable_.learn(address, &port, now);
  }
  const MacTable& macTable() const { return macTable_; }

  /// Switches one receive pass of `source`: decides the target of every record still marked
  /// for forwarding, then hands the list to every other port (guests never to guests), each of
  /// which sends what is meant for it in one batch. One lock acquisition per pass; a pass that
  /// finds the lock busy for a second is dropped with "PORTMNG::SendData Timeout".
  void sendData(SocketPort& source, std::span<ForwardEntry> list);

  /// Cuts the ports that missed the login deadline ("%s # NOT LOGGED IN") or the keep-alive
  /// time-out ("%s # HEALTH CHECK TIMEOUT") and ages the MAC table. The health thread calls it
  /// twice a second.
  void healthCheck();

  /// One record per occupied slot, in slot order, whatever the port's state.
  std::vector<PortListRecord> portList() const;
  /// Occupied slots whose port is logged in.
  int countLoggedIn() const;
  /// Logs "Current Connection Count = %d" with countLoggedIn().
  void logConnectionCount();

  /// Cuts every port (shut-down).
  void closeAll();
  /// Cuts every port of domain `domainIndex`.
  void cutDomain(int domainIndex);
  /// Asks `filter` again about every admitted client and cuts those it now refuses; a
  /// client whose check cannot be made (the filter busy) stays.
  void recheckFilter(const HostFilter& filter);
  /// Cuts every logged-in port whose account is no longer usable (locked or gone) and refreshes
  /// the guest and bridge flags of the others. Ports without an account are left alone.
  void recheckAccounts(const AccountStore& accounts);
  /// Gives every logged-in port of a domain (index > 0) the domain index its account has now.
  void recomputeDomains(const AccountStore& accounts);

 private:
  using Lock = std::unique_lock<common::TimedMutex>;

  bool decideTargets(const SocketPort& source, std::span<ForwardEntry> list) const;
  bool mayReach(const SocketPort& source, const SocketPort& target,
                std::span<const std::uint8_t> record) const;
  void cutWithLine(SocketPort& port, const char* suffix);
  void reportPendingOverflow();

  const std::shared_ptr<HubLogger> log_;
  const platform::Clock& clock_;
  mutable common::TimedMutex mutex_;
  std::vector<std::shared_ptr<SocketPort>> slots_;  // guarded by mutex_
  std::atomic<int> usedCount_{0};
  std::atomic<int> connections_{0};
  MacTable macTable_;
};

}  // namespace korvane::hub
