#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "common/ControlMessage.h"
#include "hub/ListenState.h"
#include "platform/Clock.h"
#include "platform/LocalPipe.h"

namespace korvane::hub {

class AccountStore;
class DhcpDomains;
class HostFilter;
class HubLogger;
class PanelNotifier;
class PortManager;
class ShutdownFlag;

/// What the control pipe answers about and acts on: the hub's own objects, made at start-up.
struct ControlledHub {
  int hubNumber;
  const platform::Clock& clock;
  std::shared_ptr<HubLogger> log;
  ShutdownFlag& shutdown;
  PanelNotifier& panels;
  const std::atomic<ListenState>& listenState;
  std::shared_ptr<AccountStore> accounts;
  std::shared_ptr<HostFilter> filter;
  std::shared_ptr<PortManager> portManager;
  std::shared_ptr<DhcpDomains> dhcp;
};

/// The hub's control pipe "KVHUB_nnnn": one 16-byte request per connection, served one client at
/// a time on the main thread, until the stop command or the shutdown flag ends it. The panel and
/// kvctl tell the hub through it that its account or filter file changed, ask for its listening
/// state and fetch its connection list; the manager stops the hub through it. A client that does
/// not send its request within a second, or does not take its reply within five, is dropped.
class ControlPipe {
 public:
  explicit ControlPipe(ControlledHub hub) : hub_(std::move(hub)) {}

  /// Serves requests; returns when the hub is to stop.
  void runControlPipe();

 private:
  enum class Outcome {
    kNext,      ///< disconnect the client and wait for the next one
    kRecreate,  ///< close the pipe and create it anew
    kStop,      ///< close the pipe and return
  };
  using Handler = Outcome (ControlPipe::*)(platform::PipeConnection&,
                                           const common::ControlHeader&);

  static Handler handlerFor(std::uint32_t command);
  std::optional<platform::PipeServer> createPipe();
  Outcome serve(platform::PipeConnection& client);

  Outcome stopHub(platform::PipeConnection& client, const common::ControlHeader& request);
  Outcome reloadAccounts(platform::PipeConnection& client, const common::ControlHeader& request);
  Outcome reloadAccountsAndRecheck(platform::PipeConnection& client,
                                   const common::ControlHeader& request);
  Outcome reloadFilter(platform::PipeConnection& client, const common::ControlHeader& request);
  Outcome reloadFilterAndRecheck(platform::PipeConnection& client,
                                 const common::ControlHeader& request);
  Outcome sendListenState(platform::PipeConnection& client, const common::ControlHeader& request);
  Outcome sendPortList(platform::PipeConnection& client, const common::ControlHeader& request);
  Outcome ignore(platform::PipeConnection& client, const common::ControlHeader& request);

  /// After an account reload, in one step of the DHCP domains: domains follow the accounts, the
  /// DHCP services are rebuilt (a domain whose DHCP settings changed has its clients cut and is
  /// locked for a while), and the BlockDHCP flags are read again.
  void followAccounts(bool recheckClients);
  void reloadFilterRules();

  ControlledHub hub_;
};

/// Connects to the hub's own control pipe and disconnects at once, so that a server waiting for
/// a client wakes up and looks at the shutdown flag.
void wakeControlPipe(int hubNumber);

}  // namespace korvane::hub
