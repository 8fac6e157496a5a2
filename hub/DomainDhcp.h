#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace korvane::hub {

/// Bytes of the buffer a DHCP service writes its reply record into.
inline constexpr std::size_t kDhcpReplyBufferSize = 4096;

/// What a connection thread asks of its domain's DHCP service, always under the hub's
/// ServiceLock. The hub keeps one per domain index in HubState::dhcpServices; while that list is
/// empty the connection threads switch every frame and show no leased address.
class DomainDhcp {
 public:
  virtual ~DomainDhcp() = default;

  /// The address leased to the station `mac`, as display text; empty when it has none.
  virtual std::string addressTextOf(std::span<const std::uint8_t, 6> mac) = 0;

  /// Examines one record from a client (header and frame). Returns the length of a complete
  /// reply record written into `reply` (> 0; the record is then answered, not switched), -1 when
  /// the record is to be dropped, or 0 when it is to be switched as usual. `addressText` gets the
  /// address handed out by a reply, if any. `blockDhcp` is the domain's BlockDHCP flag.
  virtual int handleFrame(std::span<const std::uint8_t> record, int blockDhcp,
                          std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                          std::string* addressText) = 0;
};

}  // namespace korvane::hub
