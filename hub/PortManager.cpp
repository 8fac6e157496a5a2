#include "hub/PortManager.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "common/ClientRecord.h"
#include "common/Utf16.h"
#include "hub/AccountStore.h"
#include "hub/HostFilter.h"
#include "hub/Utf8Text.h"

namespace korvane::hub {
namespace {

// How long a pass waits for the switch before it is dropped, and how long the health check
// waits before it skips a round.
constexpr std::chrono::milliseconds kSendDataLockWait{1000};
constexpr std::chrono::milliseconds kHealthLockWait{1000};

std::int32_t kilobytes(double bytes) {
  return static_cast<std::int32_t>(bytes / 1024.0);
}

}  // namespace

PortManager::PortManager(std::shared_ptr<HubLogger> log, const platform::Clock& clock,
                         int slotCount)
    : log_(std::move(log)),
      clock_(clock),
      slots_(static_cast<std::size_t>(std::max(slotCount, 1))),
      macTable_(slots_.size()) {
  routes_.first.assign(slots_.size(), PassRoutes::kEnd);
  routes_.last.assign(slots_.size(), PassRoutes::kEnd);
}

bool PortManager::reserveConnection() {
  int current = connections_.load();
  do {
    if (current >= slotCount()) {
      return false;
    }
  } while (!connections_.compare_exchange_weak(current, current + 1));
  return true;
}

void PortManager::releaseConnection() {
  int current = connections_.load();
  while (current > 0 && !connections_.compare_exchange_weak(current, current - 1)) {
  }
}

void PortManager::addPort(std::shared_ptr<SocketPort> port) {
  const Lock lock(mutex_);
  if (std::find(slots_.begin(), slots_.end(), port) != slots_.end()) {
    return;
  }
  const auto free = std::find(slots_.begin(), slots_.end(), nullptr);
  if (free == slots_.end()) {
    return;
  }
  port->switchSlot().index_ = static_cast<int>(free - slots_.begin());
  *free = std::move(port);
  ++usedCount_;
}

void PortManager::removePort(const SocketPort& port) {
  macTable_.forgetPort(&port);
  const Lock lock(mutex_);
  for (auto& slot : slots_) {
    if (slot.get() == &port) {
      port.switchSlot().index_ = SwitchSlot::kNone;
      slot.reset();
      --usedCount_;
    }
  }
}

bool PortManager::holds(const SocketPort& port) const {
  const Lock lock(mutex_);
  return std::any_of(slots_.begin(), slots_.end(),
                     [&](const auto& slot) { return slot.get() == &port; });
}

void PortManager::sendData(SocketPort& source, Records records) {
  if (records.empty()) {
    return;
  }
  Lock lock(mutex_, std::defer_lock);
  if (!lock.try_lock_for(kSendDataLockWait)) {
    log_->log("PORTMNG::SendData Timeout");
    return;
  }
  routePass(source, records);
  deliverPass(source, records);
  clearRoutes();
}

// Broadcasts and multicasts go on the flood list; each unicast record joins the list of the one
// port its destination lives on, if it may reach it. A record without a destination address, or
// to an address not learned, goes nowhere: unknown unicast is not flooded.
void PortManager::routePass(const SocketPort& source, Records records) {
  for (std::size_t i = 0; i < records.size() && i < common::kMaxRecordsPerPass; ++i) {
    const std::optional<MacAddress> destination = destinationOf(records[i]);
    if (!destination) {
      continue;
    }
    const auto position = static_cast<std::int16_t>(i);
    if (isGroupAddress(*destination)) {
      routes_.floods[routes_.floodCount++] = static_cast<std::uint16_t>(position);
      continue;
    }
    const SocketPort* target = macTable_.lookup(*destination);
    if (target == nullptr || !mayReach(source, *target, sourceOf(records[i]))) {
      continue;
    }
    const int slot = target->switchSlot().index_;
    if (slot == SwitchSlot::kNone) {
      continue;  // a port that found no slot receives nothing
    }
    const auto at = static_cast<std::size_t>(slot);
    routes_.nextForReceiver[i] = PassRoutes::kEnd;
    if (routes_.first[at] == PassRoutes::kEnd) {
      routes_.first[at] = position;
      routes_.receivers[routes_.receiverCount++] = static_cast<std::uint16_t>(slot);
    } else {
      routes_.nextForReceiver[static_cast<std::size_t>(routes_.last[at])] = position;
    }
    routes_.last[at] = position;
  }
}

// Without floods only the ports that unicast records go to are visited; with floods every other
// port is, guests never from guests.
void PortManager::deliverPass(const SocketPort& source, Records records) {
  if (routes_.floodCount == 0) {
    for (std::size_t r = 0; r < routes_.receiverCount; ++r) {
      const std::size_t slot = routes_.receivers[r];
      deliverTo(*slots_[slot], slot, records);
    }
    return;
  }
  const bool sourceIsGuest = source.guest();
  for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
    SocketPort* port = slots_[slot].get();
    if (port == nullptr || port == &source || (sourceIsGuest && port->guest())) {
      continue;
    }
    deliverTo(*port, slot, records);
  }
}

// The floods and the port's own unicast records, merged back into the order of the pass, on a
// gather list on the stack.
void PortManager::deliverTo(SocketPort& receiver, std::size_t slot, Records records) {
  std::array<std::span<const std::uint8_t>, common::kMaxRecordsPerPass> batch;
  std::size_t count = 0;
  std::size_t total = 0;
  const auto take = [&](std::size_t position) {
    batch[count++] = records[position];
    total += records[position].size();
  };
  std::size_t flood = 0;
  std::int16_t unicast = routes_.first[slot];
  while (flood < routes_.floodCount || unicast != PassRoutes::kEnd) {
    const bool floodFirst =
        unicast == PassRoutes::kEnd ||
        (flood < routes_.floodCount && routes_.floods[flood] < static_cast<std::uint16_t>(unicast));
    if (floodFirst) {
      take(routes_.floods[flood++]);
    } else {
      take(static_cast<std::size_t>(unicast));
      unicast = routes_.nextForReceiver[static_cast<std::size_t>(unicast)];
    }
  }
  if (receiver.sendData(std::span(batch.data(), count), total) == SendResult::kTooMuch) {
    reportPendingOverflow();
  }
}

void PortManager::clearRoutes() {
  for (std::size_t r = 0; r < routes_.receiverCount; ++r) {
    const std::size_t slot = routes_.receivers[r];
    routes_.first[slot] = PassRoutes::kEnd;
    routes_.last[slot] = PassRoutes::kEnd;
  }
  routes_.receiverCount = 0;
  routes_.floodCount = 0;
}

// Unicast stays within the source's domain, never passes between two guests, and leaves a
// port whose account may not bridge only when it comes from a client adapter's own address.
bool PortManager::mayReach(const SocketPort& source, const SocketPort& target,
                           const std::optional<MacAddress>& frameSource) {
  if (&target == &source) {
    return false;
  }
  if (target.guest() && source.guest()) {
    return false;
  }
  if (target.domainIndex() != source.domainIndex()) {
    return false;
  }
  return source.bridgeAllow() || (frameSource && isAdapterAddress(*frameSource));
}

void PortManager::reportPendingOverflow() {
  log_->logLimited(log_->pendingOverflowLines, "SOCKETPORT::SendData SendPending TOO MUCH");
}

void PortManager::healthCheck() {
  // Ageing needs only the table's own lock, so a switch busy for a second does not skip it.
  macTable_.expire(clock_.tickCount());
  Lock lock(mutex_, std::defer_lock);
  if (!lock.try_lock_for(kHealthLockWait)) {
    return;  // the next round, half a second later, tries again
  }
  const platform::Tick now = clock_.tickCount();
  for (const auto& slot : slots_) {
    if (slot == nullptr || slot->wasCut()) {
      continue;  // a port already cut is being cleaned up by its own thread
    }
    if (slot->state() != PortState::kLoggedIn) {
      if (platform::ticksBetween(slot->connectTick(), now) > kLoginDeadline.count()) {
        cutWithLine(*slot, " # NOT LOGGED IN");
      }
      continue;
    }
    if (slot->keepAlive() &&
        platform::ticksBetween(slot->lastReceiveTick(), now) > kKeepAliveTimeout.count()) {
      cutWithLine(*slot, " # HEALTH CHECK TIMEOUT");
    }
  }
}

void PortManager::cutWithLine(SocketPort& port, const char* suffix) {
  log_->log(port.logName() + suffix);
  port.cut();
}

std::vector<PortListRecord> PortManager::portList() const {
  std::vector<PortListRecord> records;
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot == nullptr) {
      continue;
    }
    common::PortListEntry entry;
    entry.state = static_cast<std::int32_t>(slot->state());
    entry.logName = slot->logName();
    entry.address = slot->addressText();
    entry.guest = slot->guest() ? 1 : 0;
    const std::string account = common::utf16ToUtf8(slot->accountName()).value_or("");
    entry.account = cutUtf8(account, common::kAccountFieldSize - 1);
    entry.kilobytesSent = kilobytes(slot->bytesSent());
    entry.kilobytesReceived = kilobytes(slot->bytesReceived());
    common::encodePortListRecord(entry, records.emplace_back());
  }
  return records;
}

int PortManager::countLoggedIn() const {
  const Lock lock(mutex_);
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const auto& slot) {
    return slot != nullptr && slot->state() == PortState::kLoggedIn;
  }));
}

// Ports that end at the same moment count and write one after the other, so the last count in
// the log is the hub's count now, never an older one written late.
void PortManager::logConnectionCount() {
  const std::lock_guard order(countLineMutex_);
  char line[64];
  std::snprintf(line, sizeof line, "Current Connection Count = %d", countLoggedIn());
  log_->log(line);
}

void PortManager::closeAll() {
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot != nullptr) {
      slot->cut();
    }
  }
}

void PortManager::cutDomain(int domainIndex) {
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot != nullptr && slot->domainIndex() == domainIndex) {
      slot->cut();
    }
  }
}

void PortManager::recheckFilter(const HostFilter& filter) {
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot == nullptr || slot->state() == PortState::kCreated) {
      continue;
    }
    const auto decision = filter.checkPeer(slot->peer(), slot->hostName());
    if (decision && !decision->allowed) {
      slot->cut();
    }
  }
}

void PortManager::recheckAccounts(const AccountStore& accounts) {
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot == nullptr || slot->state() != PortState::kLoggedIn) {
      continue;
    }
    const std::u16string name = slot->accountName();
    if (name.empty()) {
      continue;  // logged in without authentication: no account to re-check
    }
    if (accounts.statusOf(name) != common::AccountStatus::kInUse) {
      slot->cut();
    }
    slot->setGuest(accounts.guestFlagOf(name));
    slot->setBridgeAllow(accounts.bridgeAllowOf(name));
  }
}

void PortManager::recomputeDomains(const AccountStore& accounts) {
  const Lock lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot == nullptr || slot->state() != PortState::kLoggedIn || slot->domainIndex() <= 0) {
      continue;
    }
    slot->setDomainIndex(accounts.domainIndexOfAccount(slot->accountName()));
  }
}

}  // namespace korvane::hub
