#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/Aes128.h"

/// Ethernet, ARP, IPv4, UDP and DHCP frames as a station's adapter sends them, and a reader of
/// the frames a DHCP server sends back. Written from the protocols, independently of the hub's
/// own frame code, so that tests of the one check the other.
namespace korvane::hub::testframes {

using Mac = std::array<std::uint8_t, 6>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr Mac kServiceMac = {0x52, 0x00, 0x00, 0x00, 0x00, 0x01};

/// An IPv4 address from its four numbers, first number in the top byte.
constexpr std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return (std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) | d;
}

/// A station address whose last byte is `n`, as client adapters make them (0x52 prefix).
constexpr Mac station(std::uint8_t n) {
  return {0x52, 0x54, 0x00, 0x12, 0x34, n};
}

inline void put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

inline void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

inline std::uint16_t get16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

inline std::uint32_t get32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

inline void append(Bytes& bytes, std::span<const std::uint8_t> more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
}

/// The one's-complement sum of 16-bit words (RFC 1071), not yet complemented.
inline std::uint32_t onesSum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t high = bytes[i];
    const std::uint32_t low = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    sum += (high << 8) | low;
  }
  while (sum > 0xFFFF) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum;
}

enum class Framing { kEthernetII, kLlc, kSnap };

/// A DHCP message from a station, and how it is framed.
struct DhcpMessage {
  std::uint8_t type = 1;  ///< option 53; 0 leaves the option out
  Mac station = testframes::station(1);
  std::uint32_t xid = 0x1A2B3C4D;
  std::uint16_t flags = 0;
  std::uint32_t ciaddr = 0;
  std::optional<std::uint32_t> requested = std::nullopt;
  std::optional<std::string> hostName = std::nullopt;
  Bytes optionsBefore = {};  ///< raw options placed before option 53
  std::uint32_t ipSource = 0;
  std::uint32_t ipDestination = 0xFFFFFFFF;
  Mac destination = kBroadcastMac;
  Framing framing = Framing::kEthernetII;
  std::uint16_t ipId = 0x4321;
  std::uint8_t ttl = 128;
  std::uint16_t sourcePort = 68;
  std::uint16_t destinationPort = 67;
  std::size_t minimumMessageSize = 300;  ///< BOOTP's minimum; the options are padded up to it
};

/// The Ethernet frame of `m`, with correct IPv4 and UDP checksums.
inline Bytes dhcpFrame(const DhcpMessage& m) {
  Bytes message(236, 0);
  message[0] = 1;  // BOOTREQUEST
  message[1] = 1;  // Ethernet
  message[2] = 6;
  put32(message, 4, m.xid);
  put16(message, 10, m.flags);
  put32(message, 12, m.ciaddr);
  std::copy(m.station.begin(), m.station.end(), message.begin() + 28);
  append(message, std::array<std::uint8_t, 4>{99, 130, 83, 99});
  append(message, m.optionsBefore);
  if (m.type != 0) {
    append(message, std::array<std::uint8_t, 3>{53, 1, m.type});
  }
  if (m.requested) {
    message.insert(message.end(), {50, 4, 0, 0, 0, 0});
    put32(message, message.size() - 4, *m.requested);
  }
  if (m.hostName) {
    message.push_back(12);
    message.push_back(static_cast<std::uint8_t>(m.hostName->size()));
    message.insert(message.end(), m.hostName->begin(), m.hostName->end());
  }
  message.push_back(255);
  if (message.size() < m.minimumMessageSize) {
    message.resize(m.minimumMessageSize, 0);
  }

  Bytes udp(8, 0);
  put16(udp, 0, m.sourcePort);
  put16(udp, 2, m.destinationPort);
  put16(udp, 4, static_cast<std::uint16_t>(8 + message.size()));
  append(udp, message);
  Bytes pseudo(12, 0);
  put32(pseudo, 0, m.ipSource);
  put32(pseudo, 4, m.ipDestination);
  pseudo[9] = 17;
  put16(pseudo, 10, static_cast<std::uint16_t>(udp.size()));
  put16(udp, 6, static_cast<std::uint16_t>(~onesSum(udp, onesSum(pseudo)) & 0xFFFF));

  Bytes ipHeader(20, 0);
  ipHeader[0] = 0x45;
  put16(ipHeader, 2, static_cast<std::uint16_t>(20 + udp.size()));
  put16(ipHeader, 4, m.ipId);
  ipHeader[8] = m.ttl;
  ipHeader[9] = 17;
  put32(ipHeader, 12, m.ipSource);
  put32(ipHeader, 16, m.ipDestination);
  put16(ipHeader, 10, static_cast<std::uint16_t>(~onesSum(ipHeader) & 0xFFFF));

  Bytes frame(m.destination.begin(), m.destination.end());
  append(frame, m.station);
  Bytes llc;
  if (m.framing == Framing::kLlc) {
    llc = {0xE0, 0xE0, 0x03};
  } else if (m.framing == Framing::kSnap) {
    llc = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00};
  }
  frame.resize(14);
  const std::size_t length = llc.size() + ipHeader.size() + udp.size();
  put16(frame, 12, m.framing == Framing::kEthernetII ? 0x0800 : static_cast<std::uint16_t>(length));
  append(frame, llc);
  append(frame, ipHeader);
  append(frame, udp);
  return frame;
}

/// An ARP packet over Ethernet for IPv4, padded to the 60-byte minimum frame.
inline Bytes arpFrame(const Mac& sender, std::uint32_t senderIp, std::uint32_t targetIp,
                      std::uint16_t operation = 1, std::uint8_t hardwareSize = 6,
                      std::uint8_t protocolSize = 4) {
  Bytes frame(kBroadcastMac.begin(), kBroadcastMac.end());
  append(frame, sender);
  frame.resize(60, 0);
  put16(frame, 12, 0x0806);
  put16(frame, 14, 1);
  put16(frame, 16, 0x0800);
  frame[18] = hardwareSize;
  frame[19] = protocolSize;
  put16(frame, 20, operation);
  std::copy(sender.begin(), sender.end(), frame.begin() + 22);
  put32(frame, 28, senderIp);
  put32(frame, 38, targetIp);
  return frame;
}

/// A plain data record (kind 1) around `frame`.
inline Bytes plainRecord(std::span<const std::uint8_t> frame) {
  Bytes record(32, 0);
  put32(record, 0, 0xFF00FF00);
  put32(record, 4, static_cast<std::uint32_t>(frame.size()));
  put32(record, 8, 1);
  for (std::size_t i = 24; i < 32; ++i) {
    record[i] = static_cast<std::uint8_t>(0xC0 + i);  // client bytes, echoed in replies
  }
  append(record, frame);
  return record;
}

/// An encrypted data record (kind 2) around `frame`: the Ethernet header plain, the rest padded
/// with zeros to whole blocks and encrypted with `key` in ECB mode.
inline Bytes encryptedRecord(std::span<const std::uint8_t> frame, const common::Aes128Key& key) {
  Bytes body(frame.begin() + 14, frame.end());
  body.resize((body.size() + 15) / 16 * 16, 0);
  EXPECT_TRUE(common::aes128EncryptEcb(key, body));
  Bytes record = plainRecord(frame.first(14));
  put32(record, 4, static_cast<std::uint32_t>(14 + body.size()));
  put32(record, 8, 2);
  put32(record, 16, static_cast<std::uint32_t>(frame.size()));
  append(record, body);
  return record;
}

/// The frame in the reply record `record`, decrypted with `key` when the record is encrypted;
/// fails the test when the header does not describe the record.
inline Bytes frameOfRecord(std::span<const std::uint8_t> record,
                           const common::Aes128Key& key = {}) {
  EXPECT_GE(record.size(), 32u);
  if (record.size() < 32) {
    return {};
  }
  EXPECT_EQ(get32(record, 0), 0xFF00FF00u);
  EXPECT_EQ(get32(record, 4), record.size() - 32) << "payload length";
  Bytes frame(record.begin() + 32, record.end());
  if (get32(record, 8) != 2) {
    return frame;
  }
  const std::uint32_t plain = get32(record, 16);
  EXPECT_EQ((frame.size() - 14) % 16, 0u);
  EXPECT_LE(plain, frame.size());
  EXPECT_GT(plain + 16, frame.size()) << "more padding than one block";
  std::span<std::uint8_t> body(frame.data() + 14, frame.size() - 14);
  EXPECT_TRUE(common::aes128DecryptEcb(key, body));
  frame.resize(std::min<std::size_t>(plain, frame.size()));
  return frame;
}

/// A DHCP reply frame taken apart.
struct DhcpReply {
  Mac destination{};
  Mac source{};
  std::size_t llcSize = 0;
  std::uint16_t typeOrLength = 0;
  std::uint16_t ipTotalLength = 0;
  std::uint16_t ipId = 0;
  std::uint8_t ttl = 0;
  std::uint32_t ipSource = 0;
  std::uint32_t ipDestination = 0;
  bool ipChecksumOk = false;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  std::uint16_t udpLength = 0;
  bool udpChecksumOk = false;
  std::size_t messageSize = 0;
  std::uint8_t op = 0;
  std::uint32_t xid = 0;
  std::uint16_t flags = 0;
  std::uint32_t ciaddr = 0;
  std::uint32_t yiaddr = 0;
  std::uint32_t siaddr = 0;
  std::uint32_t giaddr = 0;
  Mac chaddr{};
  bool snameAndFileZero = false;
  std::vector<std::uint8_t> optionOrder;
  std::map<std::uint8_t, Bytes> options;
  bool zeroBehindEnd = false;

  std::uint8_t type() const {
    const auto found = options.find(53);
    return found == options.end() || found->second.empty() ? 0 : found->second[0];
  }
  std::optional<std::uint32_t> option32(std::uint8_t code) const {
    const auto found = options.find(code);
    if (found == options.end() || found->second.size() != 4) {
      return std::nullopt;
    }
    return get32(found->second, 0);
  }
};

/// `frame` read as a DHCP reply; fails the test and gives std::nullopt when it is not one.
inline std::optional<DhcpReply> parseDhcpReply(std::span<const std::uint8_t> frame) {
  DhcpReply r;
  if (frame.size() < 14) {
    ADD_FAILURE() << "frame of " << frame.size() << " bytes";
    return std::nullopt;
  }
  std::copy_n(frame.begin(), 6, r.destination.begin());
  std::copy_n(frame.begin() + 6, 6, r.source.begin());
  r.typeOrLength = get16(frame, 12);
  std::size_t ipAt = 14;
  if (r.typeOrLength != 0x0800) {
    r.llcSize = frame[14] == 0xAA ? 8 : 3;
    ipAt += r.llcSize;
  }
  if (frame.size() < ipAt + 28 || (frame[ipAt] >> 4) != 4) {
    ADD_FAILURE() << "no IPv4 header";
    return std::nullopt;
  }
  const std::size_t ihl = std::size_t{frame[ipAt] & 0x0Fu} * 4;
  r.ipTotalLength = get16(frame, ipAt + 2);
  r.ipId = get16(frame, ipAt + 4);
  r.ttl = frame[ipAt + 8];
  r.ipSource = get32(frame, ipAt + 12);
  r.ipDestination = get32(frame, ipAt + 16);
  r.ipChecksumOk = onesSum(frame.subspan(ipAt, ihl)) == 0xFFFF;
  const std::size_t udpAt = ipAt + ihl;
  if (frame.size() < ipAt + r.ipTotalLength) {
    ADD_FAILURE() << "IPv4 total length beyond the frame";
    return std::nullopt;
  }
  r.sourcePort = get16(frame, udpAt);
  r.destinationPort = get16(frame, udpAt + 2);
  r.udpLength = get16(frame, udpAt + 4);
  if (udpAt + r.udpLength > frame.size() || r.udpLength < 8 + 240) {
    ADD_FAILURE() << "UDP length " << r.udpLength;
    return std::nullopt;
  }
  Bytes pseudo(12, 0);
  std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(ipAt + 12), 8, pseudo.begin());
  pseudo[9] = 17;
  put16(pseudo, 10, r.udpLength);
  r.udpChecksumOk = get16(frame, udpAt + 6) != 0 &&
                    onesSum(frame.subspan(udpAt, r.udpLength), onesSum(pseudo)) == 0xFFFF;
  const auto message = frame.subspan(udpAt + 8, r.udpLength - 8u);
  r.messageSize = message.size();
  r.op = message[0];
  r.xid = get32(message, 4);
  r.flags = get16(message, 10);
  r.ciaddr = get32(message, 12);
  r.yiaddr = get32(message, 16);
  r.siaddr = get32(message, 20);
  r.giaddr = get32(message, 24);
  std::copy_n(message.begin() + 28, 6, r.chaddr.begin());
  r.snameAndFileZero =
      std::all_of(message.begin() + 44, message.begin() + 236, [](auto b) { return b == 0; });
  EXPECT_EQ(get32(message, 236), 0x63825363u) << "magic cookie";
  std::size_t at = 240;
  while (at < message.size() && message[at] != 255) {
    if (message[at] == 0) {
      ++at;
      continue;
    }
    const std::size_t length = message[at + 1];
    r.optionOrder.push_back(message[at]);
    r.options[message[at]] = Bytes(message.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                   message.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    at += 2 + length;
  }
  if (at < message.size()) {
    r.optionOrder.push_back(255);
  }
  r.zeroBehindEnd =
      at < message.size() && std::all_of(message.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                         message.end(), [](auto b) { return b == 0; });
  return r;
}

}  // namespace korvane::hub::testframes
