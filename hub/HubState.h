#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/HubSettings.h"
#include "hub/HubLog.h"
#include "hub/NotifyList.h"
#include "hub/LineRateLimit.h"
#include "platform/Clock.h"

namespace korvane::hub {

class AccountStore;
class DhcpDomains;
class HostFilter;
class LeaseWriter;
class PortManager;

/// What the listener reports of the hub's port (the control pipe answers it on request).
enum class ListenState : int {
  kUndecided = 0,   ///< the listener has not tried yet
  kListening = 1,   ///< the hub listens on its port
  kPortInUse = -1,  ///< another program already listened on the port at start
};

/// The state that one hub process shares among its threads: its identity and settings, its log,
/// the shutdown flag, and the locks and tables that the connection threads and the control pipe
/// both use. Made once at start-up; threads that may outlive start-up's scope hold it shared.
struct HubState {
  HubState(int number, int managerId, const platform::Clock& clockSource)
      : hubNumber(number), managerProcessId(managerId), clock(clockSource) {}

  /// Hands `text` to both logs once they exist; before that the line is dropped.
  void log(std::string_view text) {
    if (hubLog) {
      hubLog->write(text);
    }
  }

  /// Sets the shutdown flag; true for the one caller that set it first.
  bool requestShutdown() {
    int expected = 0;
    return shutdownFlag.compare_exchange_strong(expected, 1);
  }
  bool shuttingDown() const { return shutdownFlag.load() != 0; }

  const int hubNumber;
  const int managerProcessId;
  const platform::Clock& clock;
  std::string programDirectory;
  common::HubSettings settings;

  std::unique_ptr<HubLog> hubLog;
  std::atomic<int> shutdownFlag{0};
  std::atomic<ListenState> listenState{ListenState::kUndecided};

  /// The DHCP services of the hub's domains and their block flags, made at start-up.
  std::shared_ptr<DhcpDomains> dhcp;

  /// The hub's accounts, connection filter and switch, made at start-up. Connection threads
  /// hold their own references, so a thread that outlives shut-down never sees them vanish.
  std::shared_ptr<AccountStore> accounts;
  std::shared_ptr<HostFilter> hostFilter;
  std::shared_ptr<PortManager> portManager;

  /// The status windows to signal when the connections change (filled by the control pipe).
  NotifyList notifyList;

  /// "SendComplete Error %d" and "SOCKETPORT::SendData SendPending TOO MUCH" are written at
  /// most once a second each, hub-wide.
  LineRateLimit sendErrorLines{std::chrono::milliseconds(1000)};
  LineRateLimit pendingOverflowLines{std::chrono::milliseconds(1000)};

  /// Lines that anyone who can reach the port causes once per connection before any login:
  /// " [WARNING] PORT COUNT EXCEEDS THE LIMIT!!", a failed accept that passes, and the filter's
  /// refusal. Each kind is written at most once per kRepeatedLineInterval, hub-wide, so that a
  /// stream of connections cannot fill the disk with them.
  LineRateLimit hubFullLines;
  LineRateLimit acceptFailureLines;
  LineRateLimit filterRefusalLines;

  /// Hands `text` to both logs unless `limit` holds it back at this moment; the first line let
  /// through after some were held back is followed by "N similar lines left out".
  void logLimited(LineRateLimit& limit, std::string_view text) {
    const std::optional<std::uint64_t> heldBack = limit.pass(clock.tickCount());
    if (!heldBack) {
      return;
    }
    log(text);
    if (*heldBack > 0) {
      log(leftOutLine(*heldBack));
    }
  }

  /// Writes the DHCP lease files behind the connection threads; made and started before the
  /// DHCP services, stopped after the connections ended.
  std::shared_ptr<LeaseWriter> leaseWriter;
};

}  // namespace korvane::hub
