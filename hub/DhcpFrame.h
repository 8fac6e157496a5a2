#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hub/MacTable.h"

/// The Ethernet frames a domain's DHCP service reads and writes: ARP requests for its own
/// address and their replies (RFC 826), and DHCP requests (RFC 2131) in IPv4 and UDP, framed as
/// Ethernet II or behind an 802.2 LLC header, and the service's replies. Every reader takes any
/// bytes and never looks beyond the span it is given.
namespace korvane::hub {

/// Destination, source and EtherType (or 802.3 length).
inline constexpr std::size_t kEthernetHeaderSize = 14;
/// The Ethernet address under which every domain's DHCP service answers: locally administered,
/// so no real adapter has it.
inline constexpr MacAddress kServiceHardwareAddress = {0x52, 0x00, 0x00, 0x00, 0x00, 0x01};
/// A DHCP message's fixed fields in front of the options (RFC 2131, figure 1).
inline constexpr std::size_t kDhcpFixedSize = 236;
/// The options area of every reply: the 312 bytes that make a BOOTP message 548 bytes long, the
/// size every DHCP client accepts (RFC 2131, section 2).
inline constexpr std::size_t kDhcpOptionsSize = 312;
inline constexpr std::size_t kDhcpReplyMessageSize = kDhcpFixedSize + kDhcpOptionsSize;
/// The message type and requested address are looked for among the options that start within
/// this many bytes behind the magic cookie, where clients put them.
inline constexpr std::size_t kTypeOptionWindow = 60;

/// DHCP message types (option 53).
enum class DhcpMessageType : std::uint8_t {
  kNone = 0,  ///< the request carries no option 53
  kDiscover = 1,
  kOffer = 2,
  kRequest = 3,
  kDecline = 4,
  kAck = 5,
  kNak = 6,
  kRelease = 7,
  kInform = 8,
};

/// Where the parts of a DHCP request lie in its frame.
struct DhcpLocation {
  std::size_t llcSize = 0;        ///< 0 (Ethernet II), 3 (LLC) or 8 (LLC and SNAP)
  std::size_t ipOffset = 0;       ///< start of the IPv4 header
  std::size_t ipHeaderSize = 0;   ///< its length with options, 20 to 60
  std::size_t messageOffset = 0;  ///< start of the DHCP message behind the UDP header
  std::size_t messageSize = 0;    ///< bytes of the message that the frame, IP and UDP all hold
};

/// What the service needs of a DHCP request.
struct DhcpRequest {
  DhcpMessageType type = DhcpMessageType::kNone;
  std::uint32_t clientAddress = 0;                ///< ciaddr
  std::optional<std::uint32_t> requestedAddress;  ///< option 50
  std::string hostName;                           ///< option 12, through hostNameOf
  MacAddress station{};                           ///< the first six bytes of chaddr
  bool broadcastFlag = false;                     ///< top bit of flags
  std::uint32_t ipSource = 0;                     ///< the IPv4 source address
};

/// The service's answer to a DHCP request.
struct DhcpAnswer {
  DhcpMessageType type = DhcpMessageType::kOffer;  ///< kOffer, kAck or kNak
  std::uint32_t yourAddress = 0;                   ///< yiaddr of an offer or an ack
  std::uint32_t serverAddress = 0;                 ///< the service's own address
  std::uint32_t subnetMask = 0;
  std::uint32_t leaseTime = 0;  ///< seconds
};

/// Where the DHCP request in `frame` lies: an unfragmented IPv4 datagram (Ethernet II type
/// 0x0800, or behind LLC e0 e0 03, or behind LLC aa aa 03 with a SNAP header of type 0x0800)
/// carrying UDP from port 68 to port 67. std::nullopt for any other frame, and for one whose
/// headers do not fit in it or announce impossible lengths.
std::optional<DhcpLocation> locateDhcpRequest(std::span<const std::uint8_t> frame);

/// The request at `location` in `frame`; std::nullopt when the message is shorter than its fixed
/// fields and the magic cookie, or the cookie is wrong. Options that overrun the message end the
/// walk through them.
std::optional<DhcpRequest> readDhcpRequest(std::span<const std::uint8_t> frame,
                                           const DhcpLocation& location);

/// The bytes a reply to a request at `location` takes: the frame up to the DHCP message and the
/// 548-byte reply message.
std::size_t dhcpReplyFrameSize(const DhcpLocation& location);

/// Turns the request at `location` in `frame` into `answer`, in place, and returns the reply's
/// frame length (dhcpReplyFrameSize). `frame` must hold at least that many bytes. The reply is
/// broadcast for a NAK, for a request from 0.0.0.0 and for one with the broadcast flag, and
/// otherwise goes to the requesting station and yiaddr; IPv4 and UDP checksums are computed.
std::size_t writeDhcpReply(std::span<std::uint8_t> frame, const DhcpLocation& location,
                           const DhcpRequest& request, const DhcpAnswer& answer);

/// Whether `frame` is an ARP request (Ethernet II, IPv4, 6-byte hardware addresses) that asks
/// for the hardware address of `address`.
bool isArpRequestFor(std::span<const std::uint8_t> frame, std::uint32_t address);

/// Turns the ARP request in `frame` into the reply that `address` is at kServiceHardwareAddress,
/// in place; the frame keeps its length.
void writeArpReply(std::span<std::uint8_t> frame, std::uint32_t address);

/// The Internet checksum (RFC 1071) of `bytes`, continuing the one's-complement sum `sum`.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0);

}  // namespace korvane::hub
