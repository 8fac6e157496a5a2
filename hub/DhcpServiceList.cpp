#include "hub/DhcpServiceList.h"

#include "hub/AccountStore.h"
#include "hub/DhcpService.h"

namespace korvane::hub {
namespace {

std::shared_ptr<DhcpService> newService(const std::string& iniDirectory, int hubNumber,
                                        std::u16string domain, const platform::Clock& clock,
                                        const std::shared_ptr<LeaseWriter>& writer) {
  auto service =
      std::make_shared<DhcpService>(iniDirectory, hubNumber, std::move(domain), clock, writer);
  service->loadSettings();
  return service;
}

}  // namespace

DhcpRebuild rebuildDhcpServices(const DhcpServiceList& current, const std::string& iniDirectory,
                                int hubNumber, const AccountStore& accounts,
                                const platform::Clock& clock,
                                const std::shared_ptr<LeaseWriter>& writer) {
  DhcpRebuild rebuild;
  const auto highest = static_cast<std::size_t>(std::max(accounts.highestDomainIndex(), 0));
  rebuild.services.resize(highest + 1);
  for (std::size_t position = 0; position < current.size(); ++position) {
    const auto existing = std::dynamic_pointer_cast<DhcpService>(current[position]);
    if (!existing) {
      continue;
    }
    // The global domain's service stays where it is even when a name ending in the splitter
    // gives the empty domain text an index of its own.
    const auto index =
        position == 0 ? std::size_t{0}
                      : static_cast<std::size_t>(accounts.domainIndexOfDomain(existing->domain()));
    if ((position != 0 && index == 0) || index >= rebuild.services.size() ||
        rebuild.services[index]) {
      continue;
    }
    auto fresh = newService(iniDirectory, hubNumber, existing->domain(), clock, writer);
    if (fresh->sameSettings(*existing)) {
      rebuild.services[index] = existing;
      continue;
    }
    rebuild.services[index] = std::move(fresh);
    rebuild.changedDomains.push_back(static_cast<int>(index));
  }
  for (std::size_t index = 0; index < rebuild.services.size(); ++index) {
    if (rebuild.services[index]) {
      continue;
    }
    auto service = newService(iniDirectory, hubNumber,
                              accounts.domainNameOf(static_cast<int>(index)), clock, writer);
    std::string ignored;  // a service nobody else knows yet cannot be locked
    (void)service->loadLeases(&ignored);
    rebuild.services[index] = std::move(service);
  }
  return rebuild;
}

DhcpServiceList makeDhcpServices(const std::string& iniDirectory, int hubNumber,
                                 const AccountStore& accounts, const platform::Clock& clock,
                                 const std::shared_ptr<LeaseWriter>& writer) {
  return rebuildDhcpServices({}, iniDirectory, hubNumber, accounts, clock, writer).services;
}

}  // namespace korvane::hub
