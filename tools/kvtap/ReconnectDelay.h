#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace korvane::tools {

/// First wait before a reconnection: long enough not to hammer a hub that refuses at once, short
/// enough that a hub restart costs its clients little.
inline constexpr std::chrono::milliseconds kFirstReconnectDelay{1000};
/// Longest wait: a client that waits longer stays away from a hub that is back for too long.
inline constexpr std::chrono::milliseconds kLongestReconnectDelay{30000};

/// Exponential back-off with jitter for reconnections: the base doubles after each failed
/// attempt up to a bound, and each wait is drawn from the upper half of the base, so that many
/// clients cut at the same moment do not all come back at the same moment. A pure value: the
/// caller supplies the random numbers.
class ReconnectDelay {
 public:
  constexpr ReconnectDelay(std::chrono::milliseconds first = kFirstReconnectDelay,
                           std::chrono::milliseconds longest = kLongestReconnectDelay)
      : first_(first), longest_(std::max(first, longest)), base_(first) {}

  /// The wait before the next attempt, between half the current base and the base, chosen by
  /// `random`; the base then doubles, up to the bound.
  constexpr std::chrono::milliseconds next(std::uint32_t random) {
    const auto half = base_ / 2;
    const auto spread = static_cast<std::uint64_t>((base_ - half).count()) + 1;
    const std::chrono::milliseconds wait =
        half + std::chrono::milliseconds(static_cast<std::int64_t>(random % spread));
    base_ = std::min(base_ * 2, longest_);
    return wait;
  }

  /// Starts again from the first delay (after a connection that logged in).
  constexpr void reset() { base_ = first_; }

 private:
  std::chrono::milliseconds first_;
  std::chrono::milliseconds longest_;
  std::chrono::milliseconds base_;
};

}  // namespace korvane::tools
