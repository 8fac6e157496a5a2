#pragma once

#include <functional>
#include <string>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/windows/HubWindow.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// What the panel's windows share for as long as the program runs: the resource library, the
/// program directory, the manager configuration file, the hubs' account models and the open hub
/// windows. Every window runs on the one GUI thread, so none of it is locked.
struct PanelContext {
  ResourceLibrary& library;
  std::string programDirectory;  ///< ends in '/'
  common::ManagerConfig& config;
  AccountModelCache& models;
  HubWindowRegistry& registry;
};

/// Opens a window of one kind for hub `hubNumber` (the main window has already looked for an
/// open one); the window enters itself in the registry.
using HubWindowOpener = std::function<void(int hubNumber)>;

}  // namespace korvane::panel
