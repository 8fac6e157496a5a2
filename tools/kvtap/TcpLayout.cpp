#include "tools/kvtap/TcpLayout.h"

#include <array>

namespace korvane::tools {
namespace {

constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr std::uint8_t kProtocolTcp = 6;
// IPv4: "more fragments" and the fragment offset, which a fragment has non-zero.
constexpr std::uint16_t kFragmentBits = 0x3FFF;

std::optional<TcpLayout> finishLayout(std::span<const std::uint8_t> frame, TcpLayout layout) {
  if (layout.tcp + kTcpHeaderSize > layout.end || layout.end > frame.size()) {
    return std::nullopt;
  }
  const std::size_t tcpLength = static_cast<std::size_t>(frame[layout.tcp + 12] >> 4) * 4;
  if (tcpLength < kTcpHeaderSize || layout.tcp + tcpLength > layout.end) {
    return std::nullopt;
  }
  layout.payload = layout.tcp + tcpLength;
  return layout;
}

}  // namespace

std::uint16_t readBig16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

void writeBig16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

std::optional<TcpLayout> findTcpLayout(std::span<const std::uint8_t> frame,
                                       std::optional<std::size_t> tcpStart) {
  if (frame.size() < kEthernetHeaderSize) {
    return std::nullopt;
  }
  TcpLayout layout;
  layout.ip = kEthernetHeaderSize;
  std::uint16_t etherType = readBig16(&frame[12]);
  if (etherType == kEtherTypeVlan) {
    if (frame.size() < kTaggedEthernetHeaderSize) {
      return std::nullopt;
    }
    layout.ip = kTaggedEthernetHeaderSize;
    etherType = readBig16(&frame[16]);
  }
  const std::uint8_t* ip = frame.data() + layout.ip;
  if (etherType == kEtherTypeIpv4) {
    if (frame.size() < layout.ip + kIpv4HeaderSize || (ip[0] >> 4) != 4 || ip[9] != kProtocolTcp ||
        (readBig16(ip + 6) & kFragmentBits) != 0) {
      return std::nullopt;
    }
    const std::size_t headerLength = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
    layout.tcp = layout.ip + headerLength;
    layout.end = layout.ip + readBig16(ip + 2);
    if (headerLength < kIpv4HeaderSize || (tcpStart && *tcpStart != layout.tcp)) {
      return std::nullopt;
    }
    return finishLayout(frame, layout);
  }
  if (etherType == kEtherTypeIpv6) {
    if (frame.size() < layout.ip + kIpv6HeaderSize || (ip[0] >> 4) != 6) {
      return std::nullopt;
    }
    layout.ipv6 = true;
    layout.end = layout.ip + kIpv6HeaderSize + readBig16(ip + 4);
    if (tcpStart) {
      if (*tcpStart < layout.ip + kIpv6HeaderSize) {
        return std::nullopt;
      }
      layout.tcp = *tcpStart;
    } else {
      if (ip[6] != kProtocolTcp) {
        return std::nullopt;
      }
      layout.tcp = layout.ip + kIpv6HeaderSize;
    }
    return finishLayout(frame, layout);
  }
  return std::nullopt;
}

void addPseudoHeader(std::span<const std::uint8_t> packet, const TcpLayout& layout,
                     std::size_t tcpLength, InternetChecksum* sum) {
  std::array<std::uint8_t, 8> tail{};
  if (layout.ipv6) {
    sum->add(packet.subspan(layout.ip + 8, 32));  // source and destination
    common::writeBigEndian32(tail.data(), static_cast<std::uint32_t>(tcpLength));
    tail[7] = kProtocolTcp;
    sum->add(tail);
    return;
  }
  sum->add(packet.subspan(layout.ip + 12, 8));
  tail[1] = kProtocolTcp;
  writeBig16(&tail[2], static_cast<std::uint16_t>(tcpLength));
  sum->add(std::span(tail).first(4));
}

void setIpLength(std::span<std::uint8_t> packet, const TcpLayout& layout, std::size_t end) {
  std::uint8_t* ip = packet.data() + layout.ip;
  if (layout.ipv6) {
    writeBig16(ip + 4, static_cast<std::uint16_t>(end - layout.ip - kIpv6HeaderSize));
    return;
  }
  writeBig16(ip + 2, static_cast<std::uint16_t>(end - layout.ip));
  ip[10] = 0;
  ip[11] = 0;
  InternetChecksum sum;
  sum.add(packet.subspan(layout.ip, layout.tcp - layout.ip));
  storeChecksum(ip + 10, sum.value());
}

void setTcpChecksum(std::span<std::uint8_t> packet, const TcpLayout& layout, std::size_t end) {
  std::uint8_t* field = packet.data() + layout.tcp + kTcpChecksumOffset;
  field[0] = 0;
  field[1] = 0;
  InternetChecksum sum;
  addPseudoHeader(packet, layout, end - layout.tcp, &sum);
  sum.add(packet.subspan(layout.tcp, end - layout.tcp));
  storeChecksum(field, sum.value());
}

bool tcpChecksumHolds(std::span<const std::uint8_t> packet, const TcpLayout& layout) {
  InternetChecksum sum;
  addPseudoHeader(packet, layout, layout.end - layout.tcp, &sum);
  sum.add(packet.subspan(layout.tcp, layout.end - layout.tcp));
  return sum.verifies();
}

}  // namespace korvane::tools
