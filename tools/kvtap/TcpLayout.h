#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/ClientRecord.h"
#include "tools/kvtap/InternetChecksum.h"

namespace korvane::tools {

/// Bytes of an Ethernet header without a VLAN tag, and with one.
inline constexpr std::size_t kEthernetHeaderSize = 14;
inline constexpr std::size_t kTaggedEthernetHeaderSize = 18;
/// Bytes of the headers without options: IPv4, IPv6, TCP.
inline constexpr std::size_t kIpv4HeaderSize = 20;
inline constexpr std::size_t kIpv6HeaderSize = 40;
inline constexpr std::size_t kTcpHeaderSize = 20;
/// Where a TCP header keeps its sequence number, its flags and its checksum.
inline constexpr std::size_t kTcpSequenceOffset = 4;
inline constexpr std::size_t kTcpFlagsOffset = 13;
inline constexpr std::size_t kTcpChecksumOffset = 16;
/// TCP flags.
inline constexpr std::uint8_t kTcpFin = 0x01;
inline constexpr std::uint8_t kTcpPush = 0x08;
inline constexpr std::uint8_t kTcpAck = 0x10;
inline constexpr std::uint8_t kTcpCwr = 0x80;
/// The largest IP packet without jumbo options: its length fields have 16 bits.
inline constexpr std::size_t kMaxIpLength = 65535;

/// Where the headers of a TCP segment in an Ethernet frame start and end.
struct TcpLayout {
  bool ipv6 = false;
  std::size_t ip = 0;       ///< start of the IP header
  std::size_t tcp = 0;      ///< start of the TCP header
  std::size_t payload = 0;  ///< start of the TCP payload (end of the headers)
  std::size_t end = 0;      ///< end of the IP packet (a frame may be padded beyond it)
};

/// The layout of a TCP segment over IPv4 or IPv6 in `frame` (with or without one VLAN tag), its
/// TCP header at `tcpStart` when that is given (the kernel names it; IPv6 extension headers lie
/// before it), else right after an IPv6 header without extension headers. Empty when the frame
/// is no TCP segment or its lengths do not fit it; fragments are no segments.
std::optional<TcpLayout> findTcpLayout(std::span<const std::uint8_t> frame,
                                       std::optional<std::size_t> tcpStart = std::nullopt);

/// Adds the TCP pseudo-header (addresses, protocol, TCP length) of `packet` to `sum`.
void addPseudoHeader(std::span<const std::uint8_t> packet, const TcpLayout& layout,
                     std::size_t tcpLength, InternetChecksum* sum);

/// Writes the IP length field(s) for a packet that ends at `end`, and an IPv4 header's checksum.
void setIpLength(std::span<std::uint8_t> packet, const TcpLayout& layout, std::size_t end);

/// Computes the TCP checksum of the segment from layout.tcp to `end` and stores it.
void setTcpChecksum(std::span<std::uint8_t> packet, const TcpLayout& layout, std::size_t end);

/// Whether the TCP checksum of the segment in `packet` is right.
bool tcpChecksumHolds(std::span<const std::uint8_t> packet, const TcpLayout& layout);

/// A 16-bit field in network order (the 32-bit ones: common/ClientRecord.h).
std::uint16_t readBig16(const std::uint8_t* at);
void writeBig16(std::uint8_t* at, std::uint16_t value);

}  // namespace korvane::tools
