#include "hub/DhcpFrame.h"

#include <algorithm>
#include <array>

#include "hub/DhcpLeases.h"

namespace korvane::hub {
namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeArp = 0x0806;
/// Type fields up to this value are 802.3 lengths, and an LLC header follows.
constexpr std::uint16_t kMax8023Length = 1500;
constexpr std::array<std::uint8_t, 3> kLlcHeader = {0xE0, 0xE0, 0x03};
constexpr std::array<std::uint8_t, 3> kSnapLlcHeader = {0xAA, 0xAA, 0x03};
constexpr std::size_t kLlcSize = 3;
constexpr std::size_t kSnapLlcSize = 8;

constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kProtocolUdp = 17;
/// The more-fragments flag and the fragment offset of the IPv4 flags field.
constexpr std::uint16_t kFragmentBits = 0x3FFF;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::uint16_t kClientPort = 68;
constexpr std::uint16_t kServerPort = 67;

constexpr std::array<std::uint8_t, 4> kMagicCookie = {99, 130, 83, 99};
constexpr std::size_t kOptionsOffset = kDhcpFixedSize + kMagicCookie.size();
constexpr std::uint8_t kOptionPad = 0;
constexpr std::uint8_t kOptionSubnetMask = 1;
constexpr std::uint8_t kOptionRouter = 3;
constexpr std::uint8_t kOptionHostName = 12;
constexpr std::uint8_t kOptionRequestedAddress = 50;
constexpr std::uint8_t kOptionLeaseTime = 51;
constexpr std::uint8_t kOptionMessageType = 53;
constexpr std::uint8_t kOptionServerIdentifier = 54;
constexpr std::uint8_t kOptionRenewalTime = 58;
constexpr std::uint8_t kOptionRebindingTime = 59;
constexpr std::uint8_t kOptionEnd = 255;
constexpr std::uint8_t kBootReply = 2;
constexpr std::uint16_t kBroadcastFlag = 0x8000;

/// ARP over Ethernet for IPv4: 8 bytes of header, two 6-byte hardware and 4-byte addresses.
constexpr std::size_t kArpSize = 28;
constexpr std::uint16_t kArpRequest = 1;
constexpr std::uint16_t kArpReply = 2;

constexpr MacAddress kBroadcastHardwareAddress = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFF;

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint32_t read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

void write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t at,
                std::span<const std::uint8_t> prefix) {
  return at + prefix.size() <= bytes.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The offset of the IPv4 header and the LLC header's size, for a frame that carries IPv4.
std::optional<std::pair<std::size_t, std::size_t>> ipv4Start(std::span<const std::uint8_t> frame) {
  if (frame.size() < kEthernetHeaderSize) {
    return std::nullopt;
  }
  const std::uint16_t type = read16(frame, 12);
  if (type == kEtherTypeIpv4) {
    return std::pair{kEthernetHeaderSize, std::size_t{0}};
  }
  if (type > kMax8023Length) {
    return std::nullopt;
  }
  if (startsWith(frame, kEthernetHeaderSize, kLlcHeader)) {
    return std::pair{kEthernetHeaderSize + kLlcSize, kLlcSize};
  }
  // The SNAP header: three bytes of organisation code, then the EtherType.
  if (startsWith(frame, kEthernetHeaderSize, kSnapLlcHeader) &&
      frame.size() >= kEthernetHeaderSize + kSnapLlcSize &&
      read16(frame, kEthernetHeaderSize + 6) == kEtherTypeIpv4) {
    return std::pair{kEthernetHeaderSize + kSnapLlcSize, kSnapLlcSize};
  }
  return std::nullopt;
}

// Walks the options from `from` to `end` of `message`, calling `visit(code, data)` for each one
// that starts before `limit`, until the end option, an option that overruns the message, or
// `visit` returning false.
template <typename Visit>
void walkOptions(std::span<const std::uint8_t> message, std::size_t limit, Visit visit) {
  std::size_t at = kOptionsOffset;
  while (at < limit && at < message.size()) {
    const std::uint8_t code = message[at];
    if (code == kOptionPad) {
      ++at;
      continue;
    }
    if (code == kOptionEnd || at + 2 > message.size()) {
      return;
    }
    const std::size_t length = message[at + 1];
    if (at + 2 + length > message.size()) {
      return;
    }
    if (!visit(code, message.subspan(at + 2, length))) {
      return;
    }
    at += 2 + length;
  }
}

std::size_t putOption(std::span<std::uint8_t> options, std::size_t at, std::uint8_t code,
                      std::uint32_t value) {
  options[at] = code;
  options[at + 1] = 4;
  write32(options, at + 2, value);
  return at + 6;
}

void putAddress(std::span<std::uint8_t> bytes, std::size_t at, std::span<const std::uint8_t> mac) {
  std::copy(mac.begin(), mac.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The options of a reply, behind the magic cookie; the rest of the area stays zero (padding).
void writeReplyOptions(std::span<std::uint8_t> options, const DhcpAnswer& answer) {
  std::fill(options.begin(), options.end(), 0);
  std::copy(kMagicCookie.begin(), kMagicCookie.end(), options.begin());
  std::size_t at = kMagicCookie.size();
  options[at++] = kOptionMessageType;
  options[at++] = 1;
  options[at++] = static_cast<std::uint8_t>(answer.type);
  at = putOption(options, at, kOptionServerIdentifier, answer.serverAddress);
  if (answer.type != DhcpMessageType::kNak) {
    // Renewal at half and rebinding at seven eighths of the lease time (RFC 2131, 4.4.5).
    at = putOption(options, at, kOptionRenewalTime, answer.leaseTime / 2);
    at = putOption(options, at, kOptionRebindingTime,
                   static_cast<std::uint32_t>(std::uint64_t{answer.leaseTime} * 7 / 8));
    at = putOption(options, at, kOptionLeaseTime, answer.leaseTime);
    at = putOption(options, at, kOptionSubnetMask, answer.subnetMask);
    at = putOption(options, at, kOptionRouter, answer.serverAddress);
  }
  options[at] = kOptionEnd;
}

std::uint32_t sumOf(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (bytes.size() % 2 != 0) {
    sum += static_cast<std::uint32_t>(bytes.back() << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum;
}

// The IPv4 and UDP headers of a reply from `source` to `destination` around the 548-byte
// message: identification one above the request's, both checksums computed.
void writeIpAndUdpHeaders(std::span<std::uint8_t> frame, const DhcpLocation& location,
                          std::uint32_t source, std::uint32_t destination) {
  const std::size_t ip = location.ipOffset;
  const std::size_t udp = ip + location.ipHeaderSize;
  const auto udpLength = static_cast<std::uint16_t>(kUdpHeaderSize + kDhcpReplyMessageSize);
  write16(frame, ip + 2, static_cast<std::uint16_t>(location.ipHeaderSize + udpLength));
  write16(frame, ip + 4, static_cast<std::uint16_t>(read16(frame, ip + 4) + 1));
  write16(frame, ip + 10, 0);
  write32(frame, ip + 12, source);
  write32(frame, ip + 16, destination);
  write16(frame, ip + 10, internetChecksum(frame.subspan(ip, location.ipHeaderSize)));

  write16(frame, udp, kServerPort);
  write16(frame, udp + 2, kClientPort);
  write16(frame, udp + 4, udpLength);
  write16(frame, udp + 6, 0);
  std::array<std::uint8_t, 12> pseudoHeader{};
  std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(ip + 12), 8, pseudoHeader.begin());
  pseudoHeader[9] = kProtocolUdp;
  write16(pseudoHeader, 10, udpLength);
  const std::uint16_t checksum =
      internetChecksum(frame.subspan(udp, udpLength), sumOf(pseudoHeader, 0));
  // A computed 0 is sent as all ones: 0 means "no checksum" in UDP (RFC 768).
  write16(frame, udp + 6, checksum == 0 ? 0xFFFF : checksum);
}

}  // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  sum = sumOf(bytes, sum);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::optional<DhcpLocation> locateDhcpRequest(std::span<const std::uint8_t> frame) {
  const auto start = ipv4Start(frame);
  if (!start) {
    return std::nullopt;
  }
  DhcpLocation location;
  location.ipOffset = start->first;
  location.llcSize = start->second;
  const std::size_t ip = location.ipOffset;
  if (ip + kMinIpHeaderSize > frame.size() || (frame[ip] >> 4) != 4) {
    return std::nullopt;
  }
  location.ipHeaderSize = std::size_t{frame[ip] & 0x0Fu} * 4;
  const std::size_t udp = ip + location.ipHeaderSize;
  if (location.ipHeaderSize < kMinIpHeaderSize || udp + kUdpHeaderSize > frame.size() ||
      frame[ip + 9] != kProtocolUdp || (read16(frame, ip + 6) & kFragmentBits) != 0) {
    return std::nullopt;
  }
  const std::size_t ipTotal = read16(frame, ip + 2);
  const std::size_t udpLength = read16(frame, udp + 4);
  if (ipTotal < location.ipHeaderSize + kUdpHeaderSize || udpLength < kUdpHeaderSize ||
      read16(frame, udp) != kClientPort || read16(frame, udp + 2) != kServerPort) {
    return std::nullopt;
  }
  location.messageOffset = udp + kUdpHeaderSize;
  const std::size_t end = std::min({frame.size(), ip + ipTotal, udp + udpLength});
  location.messageSize = end - location.messageOffset;
  return location;
}

std::optional<DhcpRequest> readDhcpRequest(std::span<const std::uint8_t> frame,
                                           const DhcpLocation& location) {
  if (location.messageOffset > frame.size() ||
      location.ipOffset + kMinIpHeaderSize > frame.size()) {
    return std::nullopt;
  }
  const std::span<const std::uint8_t> message =
      frame.subspan(location.messageOffset,
                    std::min(location.messageSize, frame.size() - location.messageOffset));
  if (message.size() < kOptionsOffset || !startsWith(message, kDhcpFixedSize, kMagicCookie)) {
    return std::nullopt;
  }
  DhcpRequest request;
  request.clientAddress = read32(message, 12);
  request.broadcastFlag = (read16(message, 10) & kBroadcastFlag) != 0;
  std::copy_n(message.begin() + 28, request.station.size(), request.station.begin());
  request.ipSource = read32(frame, location.ipOffset + 12);
  bool typeSeen = false;
  walkOptions(
      message, kOptionsOffset + kTypeOptionWindow,
      [&](std::uint8_t code, std::span<const std::uint8_t> data) {
        if (code == kOptionMessageType && !data.empty() && !typeSeen) {
          request.type = static_cast<DhcpMessageType>(data[0]);
          typeSeen = true;
        }
        if (code == kOptionRequestedAddress && data.size() == 4 && !request.requestedAddress) {
          request.requestedAddress = read32(data, 0);
        }
        return true;
      });
  walkOptions(message, message.size(), [&](std::uint8_t code, std::span<const std::uint8_t> data) {
    if (code != kOptionHostName) {
      return true;
    }
    request.hostName =
        hostNameOf(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    return false;
  });
  return request;
}

std::size_t dhcpReplyFrameSize(const DhcpLocation& location) {
  return location.messageOffset + kDhcpReplyMessageSize;
}

std::size_t writeDhcpReply(std::span<std::uint8_t> frame, const DhcpLocation& location,
                           const DhcpRequest& request, const DhcpAnswer& answer) {
  const bool nak = answer.type == DhcpMessageType::kNak;
  const bool broadcast = nak || request.ipSource == 0 || request.broadcastFlag;
  const std::uint32_t yourAddress = nak ? 0 : answer.yourAddress;

  // Ethernet: to the station (its address is the request's source) or to everybody.
  if (broadcast) {
    putAddress(frame, 0, kBroadcastHardwareAddress);
  } else {
    std::copy_n(frame.begin() + 6, 6, frame.begin());
  }
  putAddress(frame, 6, kServiceHardwareAddress);
  if (location.llcSize != 0) {
    const std::size_t ipLength = location.ipHeaderSize + kUdpHeaderSize + kDhcpReplyMessageSize;
    write16(frame, 12, static_cast<std::uint16_t>(location.llcSize + ipLength));
  }

  // The DHCP message (RFC 2131, table 3): xid, flags and chaddr stay as the client sent them.
  const std::span<std::uint8_t> message =
      frame.subspan(location.messageOffset, kDhcpReplyMessageSize);
  message[0] = kBootReply;
  write32(message, 12, 0);                                               // ciaddr
  write32(message, 16, yourAddress);                                     // yiaddr
  write32(message, 20, nak ? 0 : answer.serverAddress);                  // siaddr
  write32(message, 24, 0);                                               // giaddr
  std::fill(message.begin() + 44, message.begin() + kDhcpFixedSize, 0);  // sname and file
  writeReplyOptions(message.subspan(kDhcpFixedSize), answer);

  writeIpAndUdpHeaders(frame, location, answer.serverAddress,
                       broadcast ? kBroadcastAddress : yourAddress);
  return dhcpReplyFrameSize(location);
}

bool isArpRequestFor(std::span<const std::uint8_t> frame, std::uint32_t address) {
  constexpr std::size_t arp = kEthernetHeaderSize;
  return frame.size() >= arp + kArpSize && read16(frame, 12) == kEtherTypeArp &&
         read16(frame, arp + 2) == kEtherTypeIpv4 && frame[arp + 4] == 6 && frame[arp + 5] == 4 &&
         read16(frame, arp + 6) == kArpRequest && read32(frame, arp + 24) == address;
}

void writeArpReply(std::span<std::uint8_t> frame, std::uint32_t address) {
  constexpr std::size_t arp = kEthernetHeaderSize;
  // The asker's addresses become the target's, ours the sender's.
  std::copy_n(frame.begin() + 6, 6, frame.begin());
  putAddress(frame, 6, kServiceHardwareAddress);
  write16(frame, arp + 6, kArpReply);
  std::copy_n(frame.begin() + arp + 8, 10, frame.begin() + arp + 18);
  putAddress(frame, arp + 8, kServiceHardwareAddress);
  write32(frame, arp + 14, address);
}

}  // namespace korvane::hub
