#include "panel/logic/PendingRefresh.h"

namespace korvane::panel {

bool PendingRefresh::signal() {
  if (pending_) {
    return false;
  }
  pending_ = true;
  firstSignal_ = clock_.tickCount();
  return true;
}

bool PendingRefresh::due() {
  if (!pending_ || remaining().count() > 0) {
    return false;
  }
  pending_ = false;
  return true;
}

std::chrono::milliseconds PendingRefresh::remaining() const {
  if (!pending_) {
    return std::chrono::milliseconds{0};
  }
  const std::uint32_t waited = platform::ticksBetween(firstSignal_, clock_.tickCount());
  return waited >= kDelay.count() ? std::chrono::milliseconds{0}
                                  : kDelay - std::chrono::milliseconds{waited};
}

}  // namespace korvane::panel
