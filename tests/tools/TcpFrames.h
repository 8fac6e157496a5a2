#pragma once

// Builds Ethernet frames that carry TCP segments over IPv4 or IPv6, with right lengths and
// checksums, for the tests of kvtap's cutting and joining of segments.

#include <cstdint>
#include <vector>

#include "tools/kvtap/TcpLayout.h"

namespace korvane::tools::testing {

struct SegmentShape {
  bool ipv6 = false;
  std::uint32_t sequence = 1000;
  std::uint8_t flags = kTcpAck;
  std::size_t payload = 100;
  std::uint8_t fill = 0;  // payload byte i is fill + i
  std::uint16_t ipId = 7;
  std::uint16_t sourcePort = 40000;
  bool timestamps = true;  // a 12-byte options block, as Linux sends
};

/// The frame: Ethernet, IP (no options), TCP with the shape's fields, payload; checksums right.
inline std::vector<std::uint8_t> tcpFrame(const SegmentShape& shape) {
  std::vector<std::uint8_t> frame = {0x52, 0, 0, 0, 0, 2, 0x52, 0, 0, 0, 0, 1};
  const std::size_t ipHeader = shape.ipv6 ? kIpv6HeaderSize : kIpv4HeaderSize;
  const std::size_t tcpHeader = kTcpHeaderSize + (shape.timestamps ? 12 : 0);
  frame.push_back(shape.ipv6 ? 0x86 : 0x08);
  frame.push_back(shape.ipv6 ? 0xDD : 0x00);
  const std::size_t ip = frame.size();
  frame.resize(ip + ipHeader + tcpHeader + shape.payload, 0);
  std::uint8_t* p = frame.data() + ip;
  if (shape.ipv6) {
    p[0] = 0x60;
    p[6] = 6;   // TCP
    p[7] = 64;  // hop limit
    p[23] = 1;  // source fd00::1
    p[8] = 0xFD;
    p[24] = 0xFD;
    p[39] = 2;  // destination fd00::2
  } else {
    p[0] = 0x45;
    writeBig16(p + 4, shape.ipId);
    p[6] = 0x40;  // don't fragment
    p[8] = 64;
    p[9] = 6;
    const std::uint8_t addresses[] = {10, 77, 0, 1, 10, 77, 0, 2};
    std::copy(std::begin(addresses), std::end(addresses), p + 12);
  }
  std::uint8_t* tcp = p + ipHeader;
  writeBig16(tcp, shape.sourcePort);
  writeBig16(tcp + 2, 5001);
  common::writeBigEndian32(tcp + kTcpSequenceOffset, shape.sequence);
  common::writeBigEndian32(tcp + 8, 555);
  tcp[12] = static_cast<std::uint8_t>(tcpHeader / 4 << 4);
  tcp[kTcpFlagsOffset] = shape.flags;
  writeBig16(tcp + 14, 512);
  if (shape.timestamps) {
    const std::uint8_t options[] = {1, 1, 8, 10, 0, 0, 0, 9, 0, 0, 0, 8};
    std::copy(std::begin(options), std::end(options), tcp + kTcpHeaderSize);
  }
  for (std::size_t i = 0; i < shape.payload; ++i) {
    tcp[tcpHeader + i] = static_cast<std::uint8_t>(shape.fill + i);
  }
  TcpLayout layout;
  layout.ipv6 = shape.ipv6;
  layout.ip = ip;
  layout.tcp = ip + ipHeader;
  layout.payload = layout.tcp + tcpHeader;
  layout.end = frame.size();
  setIpLength(frame, layout, layout.end);
  setTcpChecksum(frame, layout, layout.end);
  return frame;
}

}  // namespace korvane::tools::testing
