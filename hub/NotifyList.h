#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace korvane::hub {

/// The status windows that asked for the hub's connection list, in order of first request and
/// each once: the hub signals them whenever its connections change. The control pipe adds to it;
/// the connection threads walk it and drop windows that have gone.
class NotifyList {
 public:
  /// Adds `windowId` unless it is there already.
  void add(std::uint32_t windowId) {
    std::lock_guard lock(mutex_);
    if (std::find(ids_.begin(), ids_.end(), windowId) == ids_.end()) {
      ids_.push_back(windowId);
    }
  }

  /// Calls `signal` for every window in order, under the list's lock; a window for which it
  /// returns false is removed.
  void signalAll(const std::function<bool(std::uint32_t)>& signal) {
    std::lock_guard lock(mutex_);
    std::erase_if(ids_, [&](std::uint32_t id) { return !signal(id); });
  }

  std::vector<std::uint32_t> ids() const {
    std::lock_guard lock(mutex_);
    return ids_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> ids_;
};

}  // namespace korvane::hub
