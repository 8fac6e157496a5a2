#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "hub/EthernetAddress.h"
#include "platform/Clock.h"

namespace korvane::hub {

class SocketPort;

/// Addresses the MAC table holds per port slot on average: its pool is sized once at start so
/// that learning never allocates.
inline constexpr std::size_t kMacEntriesPerSlot = 32;
/// Chains of the MAC table: one per value of the 16-bit hash of an address.
inline constexpr std::size_t kMacBuckets = 65536;
/// An address from which no frame came for this long is forgotten. 300 s is the ageing time
/// Ethernet switches use by default: long enough that a quiet station's entry outlives the
/// gaps between its frames (an ARP cache refreshes within it), short enough that addresses of
/// stations gone, or forged, give their entries back.
inline constexpr std::chrono::milliseconds kMacAgeingTime{300000};
/// Addresses one port without bridge permission may hold. A client adapter is one station,
/// with a few virtual machines behind it at most; and since the pool has the same number per
/// slot, such ports together can never crowd one another out of it. A port with bridge
/// permission carries a whole network and may take whatever the pool has free.
inline constexpr std::size_t kMacEntriesPerPort = kMacEntriesPerSlot;

/// How many addresses one port holds in the MAC table. Each port carries its own count, so the
/// table knows a port's share without searching; only the table reads or changes it, under its
/// lock.
class MacShare {
 private:
  friend class MacTable;
  std::size_t held_ = 0;
};

/// Which port each Ethernet source address was last seen on. A fixed pool of entries in
/// 65536 hashed chains. An entry not refreshed by a frame for kMacAgeingTime is removed by
/// expire(); a port without bridge permission holds at most kMacEntriesPerPort entries; when
/// the pool or the port's share is full, new addresses are not learned. Thread-safe.
class MacTable {
 public:
  /// A table with `slotCount` × kMacEntriesPerSlot entries.
  explicit MacTable(std::size_t slotCount);

  /// The chain of `address`: the exclusive-or of its three 16-bit words, each little-endian.
  static std::uint16_t bucketOf(const MacAddress& address);

  /// Records that `address` lives on `port`, seen at `now`, moving it there if it was
  /// elsewhere. An all-zero address is ignored; an address that `port` does not hold yet is not
  /// learned when the pool is full or the port has its whole share.
  void learn(const MacAddress& address, const SocketPort* port, platform::Tick now);
  /// The port `address` lives on, or nullptr.
  const SocketPort* lookup(const MacAddress& address) const;
  /// Forgets `address`.
  void forget(const MacAddress& address);
  /// Forgets every address that lives on `port`.
  void forgetPort(const SocketPort* port);
  /// Forgets every address last seen more than kMacAgeingTime before `now`; returns how many.
  std::size_t expire(platform::Tick now);

  /// Addresses held now.
  std::size_t size() const;
  /// Addresses the pool holds at most.
  std::size_t capacity() const { return pool_.size(); }

 private:
  static constexpr std::int32_t kNone = -1;
  struct Entry {
    std::int32_t next = kNone;
    platform::Tick lastSeen = 0;
    const SocketPort* port = nullptr;  // nullptr: a free entry
    MacAddress address{};
  };

  std::int32_t find(const MacAddress& address) const;
  bool mayTakeMore(const SocketPort& port) const;
  void move(Entry& entry, const SocketPort* port);
  void link(std::int32_t index);
  void unlink(std::int32_t index);
  std::int32_t takeFreeEntry();

  mutable std::mutex mutex_;
  std::vector<std::int32_t> heads_;  // kMacBuckets chain heads
  std::vector<Entry> pool_;
  std::size_t used_ = 0;
  std::size_t firstMaybeFree_ = 0;  // no free entry lies below this index
};

}  // namespace korvane::hub
