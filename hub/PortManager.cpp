#include "hub/PortManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/ClientRecord.h"
#include "common/Utf16.h"
#include "hub/AccountStore.h"
#include "hub/HostFilter.h"

namespace korvane::hub {
namespace {

// How long a pass waits for the switch before it is dropped, and how long the health check
// waits before it skips a round.
constexpr std::chrono::milliseconds kSendDataLockWait{1000};
constexpr std::chrono::milliseconds kHealthLockWait{1000};

// The first byte of the source addresses that client adapters use; a frame from such an
// address is switched even for an account that may not bridge.
constexpr std::uint8_t kAdapterPrefixA = 0x40;
constexpr std::uint8_t kAdapterPrefixB = 0x52;

/// A record carries a destination address when its payload holds at least 6 bytes, and a
/// source address when it holds 12.
constexpr std::size_t kDestinationEnd = common::kDestinationOffset + 6;
constexpr std::size_t kSourceEnd = common::kSourceOffset + 6;

/// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string_view cutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) {
    return text;
  }
  std::size_t end = limit;
  while (end > 0 && (static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end);
}

std::int32_t kilobytes(double bytes) {
  return static_cast<std::int32_t>(bytes / 1024.0);
}

MacAddress addressAt(std::span<const std::uint8_t> record, std::size_t offset) {
  MacAddress address;
  std::memcpy(address.data(), record.data() + offset, address.size());
  return address;
}

}  // namespace

PortManager::PortManager(std::shared_ptr<HubLogger> log, const platform::Clock& clock,
                         int slotCount)
    : log_(std::move(log)),
      clock_(clock),
      slots_(static_cast<std::size_t>(std::max(slotCount, 1))),
      macTable_(slots_.size()) {}

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
  *free = std::move(port);
  ++usedCount_;
}

void PortManager::removePort(const SocketPort& port) {
  macTable_.forgetPort(&port);
  const Lock lock(mutex_);
  for (auto& slot : slots_) {
    if (slot.get() == &port) {
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

void PortManager::sendData(SocketPort& source, std::span<ForwardEntry> list) {
  const bool anyToForward =
      std::any_of(list.begin(), list.end(), [](const ForwardEntry& e) { return e.forward; });
  if (!anyToForward) {
    return;
  }
  Lock lock(mutex_, std::defer_lock);
  if (!lock.try_lock_for(kSendDataLockWait)) {
    log_->log("PORTMNG::SendData Timeout");
    return;
  }
  if (!decideTargets(source, list)) {
    return;
  }
  const bool sourceIsGuest = source.guest();
  for (const auto& slot : slots_) {
    SocketPort* port = slot.get();
    if (port == nullptr || port == &source || (sourceIsGuest && port->guest())) {
      continue;
    }
    if (port->sendData(list) == SendResult::kTooMuch) {
      reportPendingOverflow();
    }
  }
}

// Marks broadcasts and multicasts for flooding and gives each unicast record its one target,
// if it may reach one. True when any record goes anywhere.
bool PortManager::decideTargets(const SocketPort& source, std::span<ForwardEntry> list) const {
  bool anyGoes = false;
  for (ForwardEntry& entry : list) {
    if (!entry.forward) {
      continue;
    }
    if (entry.record.size() < kDestinationEnd) {
      entry.forward = false;  // no destination address to switch by
      continue;
    }
    const MacAddress destination = addressAt(entry.record, common::kDestinationOffset);
    if ((destination[0] & 1) != 0) {
      entry.flood = true;
      anyGoes = true;
      continue;
    }
    const SocketPort* found = macTable_.lookup(destination);
    entry.target = found != nullptr && mayReach(source, *found, entry.record) ? found : nullptr;
    anyGoes = anyGoes || entry.target != nullptr;
  }
  return anyGoes;
}

// Unicast stays within the source's domain, never passes between two guests, and leaves a
// port whose account may not bridge only when it comes from a client adapter's own address.
bool PortManager::mayReach(const SocketPort& source, const SocketPort& target,
                           std::span<const std::uint8_t> record) const {
  if (&target == &source) {
    return false;
  }
  if (target.guest() && source.guest()) {
    return false;
  }
  if (target.domainIndex() != source.domainIndex()) {
    return false;
  }
  if (source.bridgeAllow()) {
    return true;
  }
  if (record.size() < kSourceEnd) {
    return false;
  }
  const std::uint8_t first = record[common::kSourceOffset];
  return first == kAdapterPrefixA || first == kAdapterPrefixB;
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

void PortManager::logConnectionCount() {
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
    if (accounts.statusOf(name) != 0) {
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
