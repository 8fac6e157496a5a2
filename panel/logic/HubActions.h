#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/MessageView.h"

namespace korvane::panel {

/// The main window holds at most this many hubs: the manager runs at most 32 at one time.
inline constexpr int kMaxPanelHubs = 32;
/// A new hub takes the most connections a hub serves.
inline constexpr int kNewHubMaxConnections = 512;
/// How long after a start the panel asks the hub whether it found its port taken: a hub decides
/// within a second of its start, and asking earlier would find it undecided.
inline constexpr std::chrono::milliseconds kPortCheckDelay{1000};

/// A hub's listening state by hub number: 1 listening, -1 port taken, 0 undecided or silent.
using HubStateQuery = std::function<std::int32_t(int hubNumber)>;

/// The main window's hub commands (New hub, Start, Stop, Delete) as decisions on the manager
/// configuration file, the hubs' account models and a hub's state; the window refreshes its
/// list and tells the hub's open windows afterwards.
class HubActions {
 public:
  /// The hubs' states come from `queryState`, HubQueryClient::queryState of the hub's pipe.
  HubActions(common::ManagerConfig& config, AccountModelCache& models, HubStateQuery queryState,
             MessageView& view)
      : config_(config), models_(models), queryState_(std::move(queryState)), view_(view) {}

  /// Creates a hub named "<nameStem>_%04d" with kNewHubMaxConnections; refused with the hub
  /// limit message when `listedHubs` is kMaxPanelHubs or more. The new number, or 0 when
  /// nothing was created.
  int newHub(int listedHubs, const std::string& nameStem);

  /// Switches hub `hubNumber` on; refused with string 1 when its port is not set. True when it
  /// was switched on: the caller then asks checkPortAfterStart after kPortCheckDelay.
  bool start(int hubNumber);

  /// Asks a started hub for its state: when it found its port held by another program, shows
  /// string 60 and stops it again (true). Any other answer, no answer included, leaves it on.
  bool checkPortAfterStart(int hubNumber);

  /// Switches hub `hubNumber` off; true when it is off.
  bool stop(int hubNumber);

  /// Deletes hub `hubNumber` with its files, lease files and account model, after asking; refused
  /// with string 2 while it is switched on. True when it was deleted.
  bool remove(int hubNumber);

 private:
  common::ManagerConfig& config_;
  AccountModelCache& models_;
  HubStateQuery queryState_;
  MessageView& view_;
};

}  // namespace korvane::panel
