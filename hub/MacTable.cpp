#include "hub/MacTable.h"

#include <algorithm>

namespace korvane::hub {

MacTable::MacTable(std::size_t slotCount)
    : heads_(kMacBuckets, kNone), pool_(slotCount * kMacEntriesPerSlot) {}

std::uint16_t MacTable::bucketOf(const MacAddress& address) {
  const auto word = [&](std::size_t at) {
    return static_cast<std::uint16_t>(address[at] | (address[at + 1] << 8));
  };
  return static_cast<std::uint16_t>(word(0) ^ word(2) ^ word(4));
}

void MacTable::learn(const MacAddress& address, const SocketPort* port) {
  if (address == MacAddress{} || port == nullptr) {
    return;
  }
  const std::lock_guard lock(mutex_);
  const std::int32_t known = find(address);
  if (known != kNone) {
    pool_[static_cast<std::size_t>(known)].port = port;
    return;
  }
  const std::int32_t index = takeFreeEntry();
  if (index == kNone) {
    return;
  }
  Entry& entry = pool_[static_cast<std::size_t>(index)];
  entry = Entry{kNone, port, address};
  // New entries go to the end of their chain, as stations are looked up in the order they came.
  std::int32_t* link = &heads_[bucketOf(address)];
  while (*link != kNone) {
    link = &pool_[static_cast<std::size_t>(*link)].next;
  }
  *link = index;
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

void MacTable::unlink(std::int32_t index) {
  Entry& entry = pool_[static_cast<std::size_t>(index)];
  std::int32_t* link = &heads_[bucketOf(entry.address)];
  while (*link != index) {
    link = &pool_[static_cast<std::size_t>(*link)].next;
  }
  *link = entry.next;
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
