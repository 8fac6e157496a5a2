#include "hub/ControlPipe.h"

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "common/ControlReply.h"
#include "hub/AccountStore.h"
#include "hub/DhcpDomains.h"
#include "hub/HostFilter.h"
#include "hub/HubLogger.h"
#include "hub/PanelNotifier.h"
#include "hub/PortManager.h"
#include "hub/ShutdownFlag.h"
#include "hub/ThreadCatchAll.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;
using common::HubCommand;

// A client that connects and then sends nothing is dropped after this, so that it cannot keep
// the hub from being stopped or queried.
constexpr auto kRequestReadLimit = 1000ms;
// A reply (at most a full connection list, 512 records of 528 bytes) must be taken by the
// client within this time, or the client is dropped and the next one served: a client that asks
// and never reads would otherwise hold the pipe, and the manager's stop command would go unheard.
// The panel itself gives up on a reply after five seconds.
constexpr auto kReplyWriteLimit = 5000ms;
// Pipe creation is retried at this pace, without a log line, for as long as it fails.
constexpr auto kCreateRetryDelay = 1000ms;
// After its DHCP settings changed, a domain refuses logins this long, so that the clients cut
// for the change cannot come back before the new settings are in force.
constexpr auto kDomainLockTime = 15000ms;

void lockDomainForAWhile(std::shared_ptr<AccountStore> accounts, int domainIndex,
                         const platform::Clock& clock, common::ThreadFailureHandler onFailure) {
  accounts->lockDomain(domainIndex);
  std::thread([accounts = std::move(accounts), domainIndex, &clock,
               onFailure = std::move(onFailure)] {
    common::runThread(
        "DomainLock",
        [&] {
          clock.sleepFor(kDomainLockTime);
          accounts->unlockDomain(domainIndex);
        },
        onFailure);
  }).detach();
}

}  // namespace

ControlPipe::Handler ControlPipe::handlerFor(std::uint32_t command) {
  switch (static_cast<HubCommand>(command)) {
    case HubCommand::kStop:
      return &ControlPipe::stopHub;
    case HubCommand::kReloadAccounts:
      return &ControlPipe::reloadAccounts;
    case HubCommand::kPortList:
      return &ControlPipe::sendPortList;
    case HubCommand::kReloadAccountsRecheck:
      return &ControlPipe::reloadAccountsAndRecheck;
    case HubCommand::kReloadFilter:
      return &ControlPipe::reloadFilter;
    case HubCommand::kReloadFilterRecheck:
      return &ControlPipe::reloadFilterAndRecheck;
    case HubCommand::kListenState:
      return &ControlPipe::sendListenState;
    default:
      return &ControlPipe::ignore;
  }
}

std::optional<platform::PipeServer> ControlPipe::createPipe() {
  for (;;) {
    std::string err;
    auto server = platform::PipeServer::create(common::hubPipeName(hub_.hubNumber),
                                               platform::PipeAccess::kOwnerOnly, &err);
    if (server) {
      return server;
    }
    if (hub_.shutdown.isSet()) {
      return std::nullopt;
    }
    hub_.clock.sleepFor(kCreateRetryDelay);
  }
}

void ControlPipe::runControlPipe() {
  while (auto server = createPipe()) {
    Outcome outcome = Outcome::kNext;
    while (outcome == Outcome::kNext) {
      // The flag is looked at once the pipe exists and again after every wake-up: whoever sets
      // it connects afterwards, so either this look or the next accept sees it.
      if (hub_.shutdown.isSet()) {
        return;
      }
      auto client = server->accept();
      if (hub_.shutdown.isSet()) {
        return;
      }
      if (!client) {
        outcome = Outcome::kRecreate;
        break;
      }
      outcome = serve(*client);
    }
    if (outcome == Outcome::kStop) {
      return;
    }
  }
}

ControlPipe::Outcome ControlPipe::serve(platform::PipeConnection& client) {
  std::array<std::uint8_t, common::kControlHeaderSize> bytes{};
  if (client.readFully(bytes, kRequestReadLimit) < bytes.size()) {
    return Outcome::kNext;
  }
  const common::ControlHeader request = common::decodeControlHeader(bytes);
  if (request.magic != common::kControlMagic) {
    return Outcome::kRecreate;
  }
  return (this->*handlerFor(request.command))(client, request);
}

ControlPipe::Outcome ControlPipe::stopHub(platform::PipeConnection&,
                                          const common::ControlHeader&) {
  hub_.log->log("Detect Termination Signal !");
  hub_.shutdown.request();
  return Outcome::kStop;
}

void ControlPipe::followAccounts(bool recheckClients) {
  PortManager& ports = *hub_.portManager;
  const AccountStore& accounts = *hub_.accounts;
  const auto moveClients = [&] {
    if (recheckClients) {
      ports.recheckAccounts(accounts);
    }
    ports.recomputeDomains(accounts);
  };
  const auto settingsChanged = [&](int domain) {
    lockDomainForAWhile(hub_.accounts, domain, hub_.clock, endHubOnThreadFailure(hub_.log));
    ports.cutDomain(domain);
  };
  hub_.dhcp->rebuild(accounts, moveClients, settingsChanged);
}

ControlPipe::Outcome ControlPipe::reloadAccounts(platform::PipeConnection&,
                                                 const common::ControlHeader&) {
  hub_.accounts->load();
  followAccounts(false);
  return Outcome::kNext;
}

ControlPipe::Outcome ControlPipe::reloadAccountsAndRecheck(platform::PipeConnection& client,
                                                           const common::ControlHeader&) {
  hub_.accounts->load();
  client.close();  // the panel need not wait for the re-check
  followAccounts(true);
  hub_.panels.notify();
  return Outcome::kNext;
}

void ControlPipe::reloadFilterRules() {
  std::string err;
  if (!hub_.filter->loadRules(&err)) {
    hub_.log->log(err);
  }
}

ControlPipe::Outcome ControlPipe::reloadFilter(platform::PipeConnection&,
                                               const common::ControlHeader&) {
  reloadFilterRules();
  return Outcome::kNext;
}

ControlPipe::Outcome ControlPipe::reloadFilterAndRecheck(platform::PipeConnection& client,
                                                         const common::ControlHeader&) {
  reloadFilterRules();
  client.close();
  hub_.portManager->recheckFilter(*hub_.filter);
  return Outcome::kNext;
}

ControlPipe::Outcome ControlPipe::sendListenState(platform::PipeConnection& client,
                                                  const common::ControlHeader&) {
  const auto reply =
      common::encodeListenStateReply(static_cast<std::int32_t>(hub_.listenState.load()));
  (void)client.writeAll(reply, kReplyWriteLimit);
  return Outcome::kNext;
}

ControlPipe::Outcome ControlPipe::sendPortList(platform::PipeConnection& client,
                                               const common::ControlHeader& request) {
  if (request.parameter == 0) {
    return Outcome::kNext;
  }
  hub_.panels.add(request.parameter);
  const std::vector<std::uint8_t> reply =
      common::encodePortListReply(hub_.portManager->portList());
  (void)client.writeAll(reply, kReplyWriteLimit);
  return Outcome::kNext;
}

ControlPipe::Outcome ControlPipe::ignore(platform::PipeConnection&,
                                         const common::ControlHeader&) {
  return Outcome::kNext;
}

void wakeControlPipe(int hubNumber) {
  std::string err;
  auto connection = platform::openPipe(common::hubPipeName(hubNumber), &err);
  if (connection) {
    connection->close();
  }
}

}  // namespace korvane::hub
