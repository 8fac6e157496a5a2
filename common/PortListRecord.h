#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

/// The 528-byte description of one connection that a hub sends in its connection list
/// (common/ControlReply.h): 32-bit fields little-endian, texts zero-terminated in fixed fields.
namespace korvane::common {

inline constexpr std::size_t kPortListRecordSize = 528;
/// Field sizes; each text keeps at most its size - 1 bytes and a terminating zero.
inline constexpr std::size_t kLogNameFieldSize = 256;
inline constexpr std::size_t kAddressFieldSize = 128;
inline constexpr std::size_t kAccountFieldSize = 128;

/// One encoded record.
using PortListRecordBytes = std::array<std::uint8_t, kPortListRecordSize>;

struct PortListEntry {
  std::int32_t state = 0;          ///< 0 created, 1 admitted, 2 logged in
  std::string logName;             ///< "[host] address:port"
  std::string address;             ///< the client's virtual IP address text, empty when unknown
  std::int32_t guest = 0;          ///< 1 for a guest account
  std::string account;             ///< account name with its domain part
  std::int32_t kilobytesSent = 0;
  std::int32_t kilobytesReceived = 0;
};

/// Writes `entry` into `out` (every byte of it: unused text bytes are zero).
void encodePortListRecord(const PortListEntry& entry,
                          std::span<std::uint8_t, kPortListRecordSize> out);
/// Reads a record; a text field without a zero byte is taken up to its end.
PortListEntry decodePortListRecord(std::span<const std::uint8_t, kPortListRecordSize> in);

}  // namespace korvane::common
