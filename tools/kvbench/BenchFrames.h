#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::tools {

using MacAddress = std::array<std::uint8_t, 6>;

/// EtherTypes of kvbench's frames, from the range IEEE 802 leaves for local experiments: data
/// frames are counted, probe frames only show that a path works.
inline constexpr std::uint16_t kDataEtherType = 0x88B5;
inline constexpr std::uint16_t kProbeEtherType = 0x88B6;

/// Smallest frame kvbench builds: an Ethernet header and a 4-byte sequence number.
inline constexpr std::size_t kMinBenchFrame = 18;

/// The broadcast address.
inline constexpr MacAddress kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

/// The address of client `client` of measurement `run`: 52:54:... like a client adapter's
/// address (so that the hub switches it for any account), unique per run so that a hub that is
/// reused never confuses two runs.
MacAddress benchMac(int run, int client);

/// A frame of `size` bytes (at least kMinBenchFrame) to `destination` from `source` with the
/// given EtherType and `sequence` behind the header.
std::vector<std::uint8_t> makeBenchFrame(std::size_t size, const MacAddress& destination,
                                         const MacAddress& source, std::uint16_t etherType,
                                         std::uint32_t sequence = 0);

/// The EtherType of `frame`, 0 when it is too short to have one.
std::uint16_t etherTypeOf(std::span<const std::uint8_t> frame);

/// Writes `sequence` into a frame built by makeBenchFrame.
void setSequence(std::span<std::uint8_t> frame, std::uint32_t sequence);

/// The sequence number of a frame built by makeBenchFrame; 0 when it is too short.
std::uint32_t sequenceOf(std::span<const std::uint8_t> frame);

}  // namespace korvane::tools
