#pragma once

#include <cstdint>
#include <span>

namespace korvane::hub {

class SocketPort;

/// One record of a receive pass on its way through the switch: where it lies in the receiving
/// port's buffer and where it goes.
struct ForwardEntry {
  std::span<const std::uint8_t> record;  ///< header and payload, exactly as received
  bool forward = true;                   ///< false once the record was answered or dropped
  const SocketPort* target = nullptr;    ///< the one port a unicast frame goes to, if any
  bool flood = false;                    ///< broadcast or multicast: every other port may take it
};

}  // namespace korvane::hub
