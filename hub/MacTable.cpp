#include "hub/MacTable.h"

#include <algorithm>

#include "hub/SocketPort.h"

namespace korvane::hub {
namespace {

/// Whether an entry last seen at `lastSeen` has aged out at `now`. The difference is taken as
/// signed: a frame's tick read just before a sweep's own may be a little later than it, and
/// that entry is new, not 49 days old.
bool hasAged(platform::Tick lastSeen, platform::Tick now) {
  return static_cast<std::int32_t>(now - lastSeen) > kMacAgeingTime.count();
}

}  // namespace

MacTable::MacTable(std::size_t slotCount)
    : heads_(kMacBuckets, kNone), pool_(slotCount * kMacEntriesPerSlot) {}

std::uint16_t MacTable::bucketOf(const MacAddress& address) {
  const auto word = [&](std::size_t at) {
    return static_cast<std::uint16_t>(address[at] | (address[at + 1] << 8));
  };
  return static_cast<std::uint16_t>(word(0) ^ word(2) ^ word(4));
}

// Called for every frame: refreshing a known address is a lookup in its chain and one store.
void MacTable::learn(const MacAddress& address, const SocketPort* port, platform::Tick now) {
  if (address == MacAddress{} || port == nullptr) {
    return;
  }
  const std::lock_guard lock(mutex_);
  const std::int32_t known = find(address);
  if (known != kNone) {
    Entry& entry = pool_[static_cast<std::size_t>(known)];
    if (entry.port != port) {
      // A station that moved is re-learned at once, unless its new port has its whole share:
      // then the address stays where it was, as a new one would not be learned.
      if (!mayTakeMore(*port)) {
        return;
      }
      move(entry, port);
    }
    entry.lastSeen = now;
    return;
  }
  if (!mayTakeMore(*port)) {
    return;
  }
  const std::int32_t index = takeFreeEntry();
  if (index == kNone) {
    return;
  }
  pool_[static_cast<std::size_t>(index)] = Entry{kNone, now, nullptr, address};
  move(pool_[static_cast<std::size_t>(index)], port);
  link(index);
  ++used_;
}

const SocketPort* MacTable::lookup(const MacAddress& address) const {
  const std::lock_guard lock(mutex_);
  const std::int32_t index = find(address);
  return index == kNone ? nullptr : pool_[static_cast<std::size_t>(index)].port;
}

void MacTable::forget(const MacAddress& address) {
  const std::lock_guard lock(mutex_);
  for (std::int32_t index = find(address); index != kNone; index = find(address)) {
    unlink(index);
  }
}

void MacTable::forgetPort(const SocketPort* port) {
  const std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < pool_.size() && used_ > 0; ++i) {
    if (pool_[i].port == port) {
      unlink(static_cast<std::int32_t>(i));
    }
  }
}

// One pass over the pool, which is sized once (32 entries of 24 bytes per slot): even at 512
// slots this is a short walk, and the health check makes it twice a second.
std::size_t MacTable::expire(platform::Tick now) {
  const std::lock_guard lock(mutex_);
  std::size_t expired = 0;
  for (std::size_t i = 0; i < pool_.size() && used_ > 0; ++i) {
    if (pool_[i].port != nullptr && hasAged(pool_[i].lastSeen, now)) {
      unlink(static_cast<std::int32_t>(i));
      ++expired;
    }
  }
  return expired;
}

std::size_t MacTable::size() const {
  const std::lock_guard lock(mutex_);
  return used_;
}

std::int32_t MacTable::find(const MacAddress& address) const {
  for (std::int32_t index = heads_[bucketOf(address)]; index != kNone;
       index = pool_[static_cast<std::size_t>(index)].next) {
    if (pool_[static_cast<std::size_t>(index)].address == address) {
      return index;
    }
  }
  return kNone;
}

bool MacTable::mayTakeMore(const SocketPort& port) const {
  return port.bridgeAllow() || port.macShare().held_ < kMacEntriesPerPort;
}

// Hands `entry` from its port (if any) to `port`, keeping both ports' shares right.
void MacTable::move(Entry& entry, const SocketPort* port) {
  if (entry.port != nullptr) {
    --entry.port->macShare().held_;
  }
  entry.port = port;
  ++port->macShare().held_;
}

// New entries go to the end of their chain, as stations are looked up in the order they came.
void MacTable::link(std::int32_t index) {
  std::int32_t* link = &heads_[bucketOf(pool_[static_cast<std::size_t>(index)].address)];
  while (*link != kNone) {
    link = &pool_[static_cast<std::size_t>(*link)].next;
  }
  *link = index;
}

void MacTable::unlink(std::int32_t index) {
  Entry& entry = pool_[static_cast<std::size_t>(index)];
  std::int32_t* link = &heads_[bucketOf(entry.address)];
  while (*link != index) {
    link = &pool_[static_cast<std::size_t>(*link)].next;
  }
  *link = entry.next;
  --entry.port->macShare().held_;
  entry = Entry{};
  --used_;
  firstMaybeFree_ = std::min(firstMaybeFree_, static_cast<std::size_t>(index));
}

// The lowest free entry, found from a hint so that a full or busy pool is not searched from
// the start for every new address.
std::int32_t MacTable::takeFreeEntry() {
  if (used_ == pool_.size()) {
    return kNone;
  }
  for (std::size_t i = firstMaybeFree_; i < pool_.size(); ++i) {
    if (pool_[i].port == nullptr) {
      firstMaybeFree_ = i + 1;
      return static_cast<std::int32_t>(i);
    }
  }
  return kNone;
}

}  // namespace korvane::hub
