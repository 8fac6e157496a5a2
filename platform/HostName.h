#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TcpConnection.h"

namespace korvane::platform {

/// An IPv6 address, its 16 bytes in network order.
using Ipv6Bytes = std::array<std::uint8_t, 16>;

/// The host name that a reverse lookup gives for `peer` (blocks on DNS); empty when the address
/// has no name or cannot be looked up. Only the address is used, so the lookup may run while
/// the connection it came from is being closed.
std::string lookUpHostName(const PeerAddress& peer);

/// The bytes of a numeric IPv6 address such as "fe80::1" or "fe80::1%eth0" (a zone after '%'
/// is ignored); std::nullopt for any other text.
std::optional<Ipv6Bytes> parseIpv6(std::string_view text);

}  // namespace korvane::platform
