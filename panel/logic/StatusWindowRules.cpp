#include "panel/logic/StatusWindowRules.h"

#include <algorithm>

namespace korvane::panel {
namespace {

// Linux's process ids stay below 2^22 (its largest pid_max).
constexpr int kProcessIdBits = 22;
constexpr std::uint32_t kProcessIdMask = (std::uint32_t{1} << kProcessIdBits) - 1;

}  // namespace

int clampSplitterTop(int top, int clientHeight) {
  return std::min(std::max(top, kSplitterMinTop), clientHeight - kSplitterBottomRoom);
}

std::string statusWindowTitle(const std::string& hubName, const std::string& titlePart, int port) {
  return hubName + titlePart + "  (PortNo : " + std::to_string(port) + ")";
}

std::uint32_t WindowIdSource::next() {
  counter_ = counter_ % kCounterValues + 1;
  return (counter_ << kProcessIdBits) | (processId_ & kProcessIdMask);
}

}  // namespace korvane::panel
