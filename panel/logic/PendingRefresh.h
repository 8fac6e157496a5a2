#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace korvane::panel {

/// When a status window fetches its connection list after the hub signalled a change (or was
/// started): once, a short while after the first signal, however many signals came meanwhile.
class PendingRefresh {
 public:
  /// The wait after the first signal: a client's login makes the hub signal several times
  /// within milliseconds (admitted, logged in, address known), and one fetch shows them all.
  static constexpr std::chrono::milliseconds kDelay{500};

  explicit PendingRefresh(const platform::Clock& clock) : clock_(clock) {}

  /// Notes a signal; true when it is the first of a burst, so that the caller starts its timer.
  bool signal();

  /// True once kDelay after the first signal, and then the refresh is no longer pending: the
  /// caller fetches the list now.
  bool due();

  /// How long until the pending refresh is due (0 when it is due or none is pending).
  std::chrono::milliseconds remaining() const;

  bool pending() const { return pending_; }

 private:
  const platform::Clock& clock_;
  bool pending_ = false;
  platform::Tick firstSignal_ = 0;
};

}  // namespace korvane::panel
