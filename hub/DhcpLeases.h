#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hub/LeaseWriter.h"
#include "hub/MacTable.h"

namespace korvane::hub {

/// The longest host name a lease keeps: DHCP option 12 carries at most 255 bytes, and the lease
/// file's HostName is read into a 256-byte buffer.
inline constexpr std::size_t kMaxHostNameBytes = 255;
/// Longest wait for a lease list's lock, so that a stuck save cannot hold a connection forever.
inline constexpr std::chrono::milliseconds kLeaseLockWait{1000};

/// The host name a lease keeps of the `received` option 12 bytes: those before the first control
/// character (a zero byte or a line break could not stand in the lease file), at most
/// kMaxHostNameBytes.
std::string hostNameOf(std::string_view received);

/// One address handed out by a domain's DHCP service.
struct DhcpLease {
  /// Seconds since 1970-01-01 UTC after which the lease may be given to another station; 64
  /// bits, so that leases stay valid beyond January 2038.
  std::int64_t expiry = 0;
  MacAddress hardwareAddress{};
  /// From DHCP option 12; empty when the station sent none.
  std::string hostName;
  /// First dotted number in the top byte (see DottedAddress.h).
  std::uint32_t address = 0;

  bool operator==(const DhcpLease&) const = default;
};

/// The addresses a DHCP service may hand out: `lower` up to, not including, `upper` (the
/// service's own address).
struct DhcpPool {
  std::uint32_t lower = 0;
  std::uint32_t upper = 0;

  bool contains(std::uint32_t address) const { return address >= lower && address < upper; }
};

/// The leases of one domain's DHCP service, mirrored in its lease file "%04d_%s_dhcp.leases":
/// every change marks the file for the hub's lease writer, which writes it behind the threads
/// that switch frames, so the leases survive a restart of the hub. A list made without a file
/// path lives in memory only; one made without a writer is written only by save.
///
/// All operations may run on any thread; one lock, waited for at most kLeaseLockWait, serialises
/// them. An operation that does not get the lock in time does nothing and reports failure. Only
/// load and save touch the disk.
class DhcpLeases {
 public:
  /// An empty list mirrored in the file at `path` by `writer` (nothing is read yet); an empty
  /// path keeps the list in memory only, and a null writer leaves the writing to save.
  DhcpLeases(std::string path, std::shared_ptr<LeaseWriter> writer);

  /// The lease file's path; empty for a list in memory only.
  const std::string& path() const;

  /// Replaces the list by the file's sections "DHCP_ENTRY_1", "DHCP_ENTRY_2", ... up to the
  /// first missing number; a missing or unreadable file gives an empty list. False with a
  /// message in `err` only when the lock is not free in time; the list then stays.
  [[nodiscard]] bool load(std::string* err);

  /// Writes the list to the file now, replacing it whole, so that it holds exactly the current
  /// leases in list order. False with a message in `err` when the lock is not free in time or
  /// the file cannot be written; the file then stays as it was. A list without a path succeeds.
  [[nodiscard]] bool save(std::string* err);

  /// Gives station `station` named `hostName` an address of `pool` for `leaseTime` seconds from
  /// `now`: first its own lease (same station and host name) if it has one in the pool, else the
  /// lowest address no lease holds. Expired leases are dropped first. std::nullopt when the pool
  /// is used up or the lock is not free; the file is marked for writing either way.
  std::optional<std::uint32_t> allocate(const MacAddress& station, std::string_view hostName,
                                        const DhcpPool& pool, std::int64_t now,
                                        std::int64_t leaseTime);

  /// Whether `station` may use `address`: it lies in `pool` and no other station's lease holds
  /// it. A passing check renews the station's lease, or makes one (without a host name), and
  /// marks the file for writing. std::nullopt, changing nothing, when the lock is not free.
  std::optional<bool> check(std::uint32_t address, const MacAddress& station, const DhcpPool& pool,
                            std::int64_t now, std::int64_t leaseTime);

  /// Ends the lease of `station` on `address` when `check` would pass for it, and marks the file
  /// for writing. False when the check fails or the lock is not free.
  bool release(std::uint32_t address, const MacAddress& station, const DhcpPool& pool);

  /// The address of the first lease of `station`; std::nullopt when it has none or the lock is
  /// not free.
  std::optional<std::uint32_t> addressOf(const MacAddress& station) const;

  /// A copy of the list in order; empty when the lock is not free.
  std::vector<DhcpLease> leases() const;

 private:
  struct Table;

  std::vector<DhcpLease> readFile() const;
  void markChanged();

  // Shared with the writer, which reads the list when it gets to the file, even after the
  // service that made the change was replaced.
  const std::shared_ptr<Table> table_;
  const std::shared_ptr<LeaseWriter> writer_;
};

}  // namespace korvane::hub
