#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace korvane::hub {

class SocketPort;

/// An Ethernet address.
using MacAddress = std::array<std::uint8_t, 6>;

/// Addresses the MAC table holds per port slot on average: its pool is sized once at start so
/// that learning never allocates.
inline constexpr std::size_t kMacEntriesPerSlot = 32;
/// Chains of the MAC table: one per value of the 16-bit hash of an address.
inline constexpr std::size_t kMacBuckets = 65536;

/// Which port each Ethernet source address was last seen on. A fixed pool of entries in
/// 65536 hashed chains; when the pool is full new addresses are not learned. Thread-safe.
class MacTable {
 public:
  /// A table with `slotCount` × kMacEntriesPerSlot entries.
  explicit MacTable(std::size_t slotCount);

  /// The chain of `address`: the exclusive-or of its three 16-bit words, each little-endian.
  static std::uint16_t bucketOf(const MacAddress& address);

  /// Records that `address` lives on `port`, moving it there if it was elsewhere. An all-zero
  /// address is ignored; a new address is not learned when the pool is full.
  void learn(const MacAddress& address, const SocketPort* port);
  /// The port `address` lives on, or nullptr.
  const SocketPort* lookup(const MacAddress& address) const;
  /// Forgets `address`.
  void forget(const MacAddress& address);
  /// Forgets every address that lives on `port`.
  void forgetPort(const SocketPort* port);

  /// Addresses held now.
  std::size_t size() const;
  /// Addresses the pool holds at most.
  std::size_t capacity() const { return pool_.size(); }

 private:
  static constexpr std::int32_t kNone = -1;
  struct Entry {
    std::int32_t next = kNone;
    const SocketPort* port = nullptr;  // nullptr: a free entry
    MacAddress address{};
  };

  std::int32_t find(const MacAddress& address) const;
  void unlink(std::int32_t index);
  std::int32_t takeFreeEntry();

  mutable std::mutex mutex_;
  std::vector<std::int32_t> heads_;  // kMacBuckets chain heads
  std::vector<Entry> pool_;
  std::size_t used_ = 0;
  std::size_t firstMaybeFree_ = 0;  // no free entry lies below this index
};

}  // namespace korvane::hub
