#include "hub/DhcpDomains.h"

#include "hub/AccountStore.h"
#include "hub/SocketPort.h"

namespace korvane::hub {

DhcpDomains::DhcpDomains(std::string iniDirectory, int hubNumber, const platform::Clock& clock,
                         std::shared_ptr<LeaseWriter> writer)
    : iniDirectory_(std::move(iniDirectory)),
      hubNumber_(hubNumber),
      clock_(clock),
      writer_(std::move(writer)) {}

void DhcpDomains::load(const AccountStore& accounts) {
  DhcpServiceList services = makeDhcpServices(iniDirectory_, hubNumber_, accounts, clock_, writer_);
  const std::lock_guard lock(mutex_);
  services_ = std::move(services);
  loadBlockFlagsLocked(accounts);
}

DhcpExamination DhcpDomains::examine(const SocketPort& port, std::span<const std::uint8_t> record,
                                     std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                                     std::string* addressText) {
  const std::lock_guard lock(mutex_);
  // The port's domain index is read under the lock, so a rebuild that moves the port to another
  // index and the services to theirs is seen whole or not at all.
  const int domain = port.domainIndex();
  DomainDhcp* service = serviceAt(domain);
  if (service == nullptr) {
    return {};
  }
  return service->handleFrame(record, blockedLocked(domain), reply, addressText);
}

std::string DhcpDomains::addressTextOf(const SocketPort& port,
                                       std::span<const std::uint8_t, 6> station) {
  const std::lock_guard lock(mutex_);
  DomainDhcp* service = serviceAt(port.domainIndex());
  return service != nullptr ? service->addressTextOf(station) : std::string();
}

void DhcpDomains::rebuild(const AccountStore& accounts, const std::function<void()>& moveClients,
                          const std::function<void(int domainIndex)>& settingsChanged) {
  const std::lock_guard lock(mutex_);
  moveClients();
  DhcpRebuild rebuilt =
      rebuildDhcpServices(services_, iniDirectory_, hubNumber_, accounts, clock_, writer_);
  services_ = std::move(rebuilt.services);
  for (int domain : rebuilt.changedDomains) {
    settingsChanged(domain);
  }
  loadBlockFlagsLocked(accounts);
}

void DhcpDomains::clear() {
  DhcpServiceList gone;
  {
    const std::lock_guard lock(mutex_);
    gone.swap(services_);
  }
  // The services are let go outside the lock; their leases stay marked for the lease writer.
}

DomainDhcp* DhcpDomains::serviceAt(int domainIndex) const {
  const auto position = static_cast<std::size_t>(domainIndex);
  return domainIndex >= 0 && position < services_.size() ? services_[position].get() : nullptr;
}

bool DhcpDomains::blockedLocked(int domainIndex) const {
  return domainIndex >= 0 && domainIndex < kMaxDomains &&
         blockFlags_[static_cast<std::size_t>(domainIndex)] != 0;
}

void DhcpDomains::loadBlockFlagsLocked(const AccountStore& accounts) {
  loadBlockFlags(blockFlags_, iniDirectory_, hubNumber_, &accounts);
}

}  // namespace korvane::hub
