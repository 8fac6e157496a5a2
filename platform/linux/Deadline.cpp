#include "platform/linux/Deadline.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace korvane::platform {

SteadyClock::time_point deadlineAfter(std::chrono::milliseconds limit) {
  return SteadyClock::now() + std::clamp(limit, std::chrono::milliseconds::zero(), kLongestLimit);
}

int pollTimeout(SteadyClock::duration left) {
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left);
  return static_cast<int>(std::clamp<std::int64_t>(milliseconds.count(), 0, INT_MAX));
}

int pollUntil(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, pollTimeout(deadline - SteadyClock::now()));
    if (ready > 0) {
      return entry.revents;
    }
    if (ready == 0) {
      return 0;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

}  // namespace korvane::platform
