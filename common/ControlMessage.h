#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

/// The 16-byte header of the hub control pipe: four 32-bit little-endian words (magic, length of
/// the data behind the header, command, parameter). Requests and replies share it.
namespace korvane::common {

inline constexpr std::uint32_t kControlMagic = 0xFF00FF00;
inline constexpr std::size_t kControlHeaderSize = 16;
/// Bytes of one word of the pipe's messages (header words and the numbers of the replies).
inline constexpr std::size_t kControlWordSize = 4;

/// Commands of the hub control pipe and their replies.
enum class HubCommand : std::uint32_t {
  kStop = 1,                  ///< manager: stop the hub
  kReloadAccounts = 2,        ///< panel: account file changed, keep the connections
  kPortList = 3,              ///< panel: connection list; parameter = window handle
  kPortListReply = 4,         ///< reply to kPortList
  kReloadAccountsRecheck = 5, ///< panel: account file changed, re-check every connection
  kReloadFilter = 7,          ///< panel: filter file changed
  kReloadFilterRecheck = 8,   ///< panel: filter file changed, re-check every connection
  kListenState = 9,           ///< panel: listening state
  kListenStateReply = 10,     ///< reply to kListenState
};

struct ControlHeader {
  std::uint32_t magic = kControlMagic;
  std::uint32_t length = 0;
  std::uint32_t command = 0;
  std::uint32_t parameter = 0;
};

/// The 16 bytes of `header`.
std::array<std::uint8_t, kControlHeaderSize> encodeControlHeader(const ControlHeader& header);
/// The header in the first 16 bytes of a message.
ControlHeader decodeControlHeader(std::span<const std::uint8_t, kControlHeaderSize> bytes);

/// Writes `value` as a little-endian 32-bit word into `bytes` at `offset`, which must leave room
/// for it.
void putWord(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);
/// The little-endian 32-bit word in `bytes` at `offset`, which must leave room for it.
std::uint32_t wordAt(std::span<const std::uint8_t> bytes, std::size_t offset);

/// The name of hub `hubNumber`'s control pipe: "KVHUB_" and the number as "%04d".
std::string hubPipeName(int hubNumber);

}  // namespace korvane::common
