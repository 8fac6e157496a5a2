#pragma once

#include <map>
#include <utility>

namespace korvane::panel {

/// A window opened for one hub (its status, accounts or filter), which the main window tells
/// what happens to the hub.
class HubWindow {
 public:
  virtual ~HubWindow() = default;
  /// The hub was switched off.
  virtual void hubStopped() = 0;
  /// The hub was switched on.
  virtual void hubStarted() = 0;
  /// The hub was deleted.
  virtual void hubDeleted() = 0;
  /// Restores the window when it is minimised and brings it to the top, keeping its size and
  /// place.
  virtual void bringToFront() = 0;
};

/// The kinds of windows opened for a hub; one of each kind per hub at most.
enum class HubWindowKind { kStatus, kAccounts, kFilter };

/// The open hub windows by kind and hub number. A window enters itself when it opens and leaves
/// when it closes (HubWindowRegistration does both); the main window looks a hub up before it
/// opens a window, and tells the hub's windows when it stops, starts or deletes the hub.
class HubWindowRegistry {
 public:
  /// Enters `window` as the `kind` window of hub `hubNumber`, replacing any other.
  void enter(HubWindowKind kind, int hubNumber, HubWindow* window) {
    windows_[{kind, hubNumber}] = window;
  }
  /// Removes `window`, if it is still the `kind` window of hub `hubNumber`.
  void leave(HubWindowKind kind, int hubNumber, const HubWindow* window) {
    const auto found = windows_.find({kind, hubNumber});
    if (found != windows_.end() && found->second == window) {
      windows_.erase(found);
    }
  }
  /// The `kind` window of hub `hubNumber`, or null.
  HubWindow* find(HubWindowKind kind, int hubNumber) const {
    const auto found = windows_.find({kind, hubNumber});
    return found == windows_.end() ? nullptr : found->second;
  }
  /// Brings the `kind` window of hub `hubNumber` to the front; false when none is open.
  bool raise(HubWindowKind kind, int hubNumber) const {
    HubWindow* window = find(kind, hubNumber);
    if (window != nullptr) {
      window->bringToFront();
    }
    return window != nullptr;
  }

 private:
  std::map<std::pair<HubWindowKind, int>, HubWindow*> windows_;
};

/// A hub window's entry in the registry for as long as the object lives: a window holds one as
/// a member, so it leaves the registry however it closes.
class HubWindowRegistration {
 public:
  HubWindowRegistration(HubWindowRegistry& registry, HubWindowKind kind, int hubNumber,
                        HubWindow* window)
      : registry_(registry), kind_(kind), hubNumber_(hubNumber), window_(window) {
    registry_.enter(kind_, hubNumber_, window_);
  }
  ~HubWindowRegistration() { registry_.leave(kind_, hubNumber_, window_); }
  HubWindowRegistration(const HubWindowRegistration&) = delete;
  HubWindowRegistration& operator=(const HubWindowRegistration&) = delete;

 private:
  HubWindowRegistry& registry_;
  HubWindowKind kind_;
  int hubNumber_;
  HubWindow* window_;
};

}  // namespace korvane::panel
