#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "common/ClientRecord.h"
#include "common/PortListRecord.h"
#include "common/TimedMutex.h"
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
/// turns the records of one receive pass of a port into at most one batch per other port. Also the
/// health check and the whole-table operations of the control pipe. Every client is removed the
/// same way: its stream is cut and its own thread cleans it up.
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

  /// Switches the records of one receive pass of `source` that its thread let through, in
  /// their order: a broadcast or multicast goes to every other port (guests never to guests), a
  /// unicast only to the one port its destination lives on, if it may reach it, and anything
  /// else nowhere. Each receiver gets its records in one batch. One lock acquisition per pass;
  /// a pass that finds the lock busy for a second is dropped with "PORTMNG::SendData Timeout".
  /// Allocates nothing.
  void sendData(SocketPort& source, std::span<const std::span<const std::uint8_t>> records);

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

  using Records = std::span<const std::span<const std::uint8_t>>;

  /// Where the records of the pass being switched go, by their position in the pass. Kept
  /// between passes so that switching never allocates; guarded by mutex_.
  struct PassRoutes {
    static constexpr std::int16_t kEnd = -1;
    /// Records that go to every other port, in order.
    std::array<std::uint16_t, common::kMaxRecordsPerPass> floods{};
    std::size_t floodCount = 0;
    /// The next unicast record for the same receiver (kEnd: none).
    std::array<std::int16_t, common::kMaxRecordsPerPass> nextForReceiver{};
    /// Slots that get unicast records in this pass, in the order of their first one.
    std::array<std::uint16_t, common::kMaxRecordsPerPass> receivers{};
    std::size_t receiverCount = 0;
    /// Per slot: its first and last unicast record of the pass (kEnd: none).
    std::vector<std::int16_t> first;
    std::vector<std::int16_t> last;
  };

  void routePass(const SocketPort& source, Records records);
  void deliverPass(const SocketPort& source, Records records);
  void deliverTo(SocketPort& receiver, std::size_t slot, Records records);
  void clearRoutes();
  static bool mayReach(const SocketPort& source, const SocketPort& target,
                       const std::optional<MacAddress>& frameSource);
  void cutWithLine(SocketPort& port, const char* suffix);
  void reportPendingOverflow();

  const std::shared_ptr<HubLogger> log_;
  const platform::Clock& clock_;
  mutable common::TimedMutex mutex_;
  // Taken before mutex_ while a count line is made and written.
  std::mutex countLineMutex_;
  std::vector<std::shared_ptr<SocketPort>> slots_;  // guarded by mutex_
  std::atomic<int> usedCount_{0};
  std::atomic<int> connections_{0};
  MacTable macTable_;
  PassRoutes routes_;  // guarded by mutex_
};

}  // namespace korvane::hub
