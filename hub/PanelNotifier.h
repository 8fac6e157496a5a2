#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "hub/NotifyList.h"
#include "hub/ShutdownFlag.h"

namespace korvane::hub {

/// The control panel's status windows that follow the hub's connection list: the control pipe
/// adds a window when it asks for the list, and the connection threads tell them all when the
/// list changes.
class PanelNotifier {
 public:
  /// Notifies nothing once `shutdown` is set.
  explicit PanelNotifier(std::shared_ptr<const ShutdownFlag> shutdown)
      : shutdown_(std::move(shutdown)) {}

  /// Adds window `windowId` unless it is there already.
  void add(std::uint32_t windowId) { windows_.add(windowId); }
  /// The windows in order of their first request.
  std::vector<std::uint32_t> windows() const { return windows_.ids(); }

  /// Tells every window that the connection list changed (a connection was made, logged in,
  /// learned its address or ended). Returns at once; a window whose pipe cannot be opened has
  /// gone and leaves the list.
  void notify();

 private:
  const std::shared_ptr<const ShutdownFlag> shutdown_;
  NotifyList windows_;
};

}  // namespace korvane::hub
