#pragma once

#include <chrono>

// Linux only: waiting in poll() until a deadline, for every timed wait of platform/linux. Only
// platform/linux/*.cpp (and their tests) include it.
namespace korvane::platform {

using SteadyClock = std::chrono::steady_clock;

/// Longer limits are cut to this, so that now + limit cannot overflow the clock's count.
inline constexpr std::chrono::milliseconds kLongestLimit = std::chrono::hours(24 * 365);

/// The moment `limit` from now: a negative limit is now, one beyond kLongestLimit is that.
SteadyClock::time_point deadlineAfter(std::chrono::milliseconds limit);

/// `left` as poll()'s time-out: whole milliseconds rounded up, so that a wait never ends before
/// its deadline; 0 when nothing is left, INT_MAX at the most.
int pollTimeout(SteadyClock::duration left);

/// Polls `fd` for `events` until it reports something or `deadline` passes; a signal's EINTR
/// waits on with the time that is left. The reported events, 0 at the deadline, or -1 when
/// poll() fails (errno says why).
int pollUntil(int fd, short events, SteadyClock::time_point deadline);

}  // namespace korvane::platform
