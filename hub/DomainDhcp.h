#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvane::hub {

/// Bytes of the buffer a DHCP service writes its reply record into.
inline constexpr std::size_t kDhcpReplyBufferSize = 4096;

/// What a domain's DHCP service decided about one record from a client.
enum class DhcpVerdict {
  kSwitch,  ///< not the service's business: the record is switched as usual
  kDrop,    ///< DHCP traffic of a domain that blocks it: the record goes nowhere
  kReply,   ///< answered: the reply record is in the reply buffer, the record goes nowhere
};

/// The verdict on one record, with the length of the reply record when there is one.
struct DhcpExamination {
  DhcpVerdict verdict = DhcpVerdict::kSwitch;
  std::size_t replyLength = 0;  ///< bytes of the reply record; 0 unless the verdict is kReply
};

/// What a connection thread asks of its domain's DHCP service, always under the lock of the
/// hub's DhcpDomains, which keeps one per domain index.
class DomainDhcp {
 public:
  virtual ~DomainDhcp() = default;

  /// The address leased to the station `mac`, as display text; empty when it has none.
  virtual std::string addressTextOf(std::span<const std::uint8_t, 6> mac) = 0;

  /// Examines one record from a client (header and frame). A reply record (kReply) is written
  /// into `reply`; `addressText` gets the address handed out by a reply, if any. `blockDhcp` is
  /// the domain's BlockDHCP flag.
  virtual DhcpExamination handleFrame(std::span<const std::uint8_t> record, bool blockDhcp,
                                      std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                                      std::string* addressText) = 0;
};

}  // namespace korvane::hub
