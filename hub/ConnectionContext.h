#pragma once

#include <memory>

#include "common/HubSettings.h"
#include "platform/Clock.h"

namespace korvane::hub {

class AccountStore;
class DhcpDomains;
class HostFilter;
class HubLogger;
class PanelNotifier;
class PortManager;
class SendWriter;
class ShutdownFlag;

/// What the threads of one client connection use of their hub, handed to them by the listener.
/// Each thread holds its own copy, so that a thread still running after shut-down keeps what it
/// uses alive.
struct ConnectionContext {
  const platform::Clock* clock = nullptr;
  common::AuthFlag authFlag = common::AuthFlag::kOff;
  std::shared_ptr<HubLogger> log;
  std::shared_ptr<const ShutdownFlag> shutdown;
  std::shared_ptr<PanelNotifier> panels;
  std::shared_ptr<PortManager> portManager;
  std::shared_ptr<SendWriter> sendWriter;  ///< writes what clients' streams did not take at once
  std::shared_ptr<AccountStore> accounts;
  std::shared_ptr<HostFilter> filter;  ///< null: every client is admitted
  std::shared_ptr<DhcpDomains> dhcp;   ///< null: frames are switched unexamined
};

}  // namespace korvane::hub
