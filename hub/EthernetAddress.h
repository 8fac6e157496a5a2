#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/ClientRecord.h"

namespace korvane::hub {

/// An Ethernet address.
using MacAddress = std::array<std::uint8_t, 6>;

/// The address at `offset` of `record`; std::nullopt when the record is too short for it.
inline std::optional<MacAddress> addressAt(std::span<const std::uint8_t> record,
                                           std::size_t offset) {
  MacAddress address;
  if (record.size() < offset + address.size()) {
    return std::nullopt;
  }
  std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(offset), address.size(),
              address.begin());
  return address;
}

/// The destination address of the frame in `record`; std::nullopt when it has none.
inline std::optional<MacAddress> destinationOf(std::span<const std::uint8_t> record) {
  return addressAt(record, common::kDestinationOffset);
}

/// The source address of the frame in `record`; std::nullopt when it has none.
inline std::optional<MacAddress> sourceOf(std::span<const std::uint8_t> record) {
  return addressAt(record, common::kSourceOffset);
}

/// A broadcast or multicast address (the group bit of its first byte set): such a frame is
/// flooded to every other port.
inline bool isGroupAddress(const MacAddress& address) {
  return (address[0] & 0x01) != 0;
}

/// Whether a source address is one of a client adapter's own: they start with 0x40 or 0x52.
/// Only such frames leave a port whose account may not bridge a network.
inline bool isAdapterAddress(const MacAddress& source) {
  return source[0] == 0x40 || source[0] == 0x52;
}

/// Whether a source address belongs to a physical network that the client bridges: the
/// locally-administered bit (2) of its first byte is clear and the byte is not 0x40. Client
/// adapters use 0x40 or locally administered addresses. The connection list then shows the
/// client as "Bridge".
inline bool isBridgedAddress(const MacAddress& source) {
  constexpr std::uint8_t kLocallyAdministeredBit = 0x02;
  return (source[0] & kLocallyAdministeredBit) == 0 && source[0] != 0x40;
}

}  // namespace korvane::hub
