#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/PortListRecord.h"
#include "platform/Clock.h"

namespace korvane::panel {

/// The panel's questions to a running hub over its control pipe: its listening state and its
/// connection list. Each call opens its own connection to the pipe, retrying while the hub
/// serves another client, and waits at most five seconds for the reply.
class HubQueryClient {
 public:
  explicit HubQueryClient(const platform::Clock& clock = platform::systemClock()) : clock_(clock) {}

  /// 1 when the hub listens on its port, -1 when another program held the port at start, 0
  /// when it has not decided yet; also 0 when the hub did not answer or answered wrongly.
  std::int32_t queryState(int hubNumber) const;

  /// The hub's connections; empty when the hub did not answer or answered wrongly. `windowId`
  /// names the notification pipe through which the hub will signal changes (0: none).
  std::optional<std::vector<common::PortListEntry>> queryConnections(int hubNumber,
                                                                     std::uint32_t windowId) const;

 private:
  std::optional<std::vector<std::uint8_t>> ask(int hubNumber, std::uint32_t command,
                                               std::uint32_t parameter) const;

  const platform::Clock& clock_;
};

}  // namespace korvane::panel
