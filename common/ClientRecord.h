#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

/// Records of the client protocol: a 32-byte header of big-endian 32-bit fields followed by the
/// payload that its length field announces. Data records carry one Ethernet frame each; control
/// records carry the login, the authentication and the keep-alives.
namespace korvane::common {

inline constexpr std::uint32_t kRecordMagic = 0xFF00FF00;
inline constexpr std::size_t kRecordHeaderSize = 32;
/// A receive pass handles at most this many records, so one pass is one bounded unit of work.
inline constexpr std::size_t kMaxRecordsPerPass = 256;

/// The kind field: 0 for control records, 2 for a frame encrypted with the domain's network
/// key; any other value is a plain frame.
inline constexpr std::uint32_t kKindControl = 0;
inline constexpr std::uint32_t kKindEncrypted = 2;

/// Control record types.
enum class ControlType : std::uint32_t {
  kLogin = 0,          ///< client: start of login; option 1 = keep-alives will follow
  kLoginOk = 1,        ///< hub: login accepted
  kKeepAlive = 2,      ///< client: keep-alive
  kKeepAliveEcho = 3,  ///< hub: answer to a keep-alive
  kAuthChallenge = 7,  ///< hub: 16 random bytes to answer
  kAuthAnswer = 8,     ///< client: the 16-byte answer
  kLoginDenied = 9,    ///< hub: authentication refused or too many connections
};

/// Bytes of an authentication challenge and of its answer.
inline constexpr std::size_t kChallengeSize = 16;

/// Byte offsets of the header fields.
inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kPayloadLengthOffset = 4;
inline constexpr std::size_t kKindOffset = 8;
inline constexpr std::size_t kTypeOffset = 12;
inline constexpr std::size_t kPlainLengthOffset = 16;
inline constexpr std::size_t kOptionOffset = 20;
inline constexpr std::size_t kClientBytesOffset = 24;
/// Where a data record's frame starts, and the frame's destination and source addresses.
inline constexpr std::size_t kFrameOffset = kRecordHeaderSize;
inline constexpr std::size_t kDestinationOffset = kFrameOffset;
inline constexpr std::size_t kSourceOffset = kFrameOffset + 6;

struct RecordHeader {
  std::uint32_t magic = kRecordMagic;
  std::uint32_t payloadLength = 0;
  std::uint32_t kind = kKindControl;
  std::uint32_t type = 0;
  std::uint32_t plainLength = 0;
  std::uint32_t option = 0;
  std::array<std::uint8_t, 8> clientBytes{};
};

constexpr std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

constexpr void writeBigEndian32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

std::array<std::uint8_t, kRecordHeaderSize> encodeRecordHeader(const RecordHeader& header);
RecordHeader decodeRecordHeader(std::span<const std::uint8_t, kRecordHeaderSize> bytes);

/// Where one complete record lies in a receive buffer.
struct RecordSpan {
  std::uint32_t offset = 0;  ///< start of the header
  std::uint32_t length = 0;  ///< header plus payload
};

/// What the parser found in a buffer.
struct ParseResult {
  std::size_t count = 0;       ///< complete records written to the output, at most its size
  std::size_t consumed = 0;    ///< bytes those records cover, from the buffer's start
  bool preambleError = false;  ///< a header with a wrong magic stopped the parse
};

/// Cuts the start of `buffer` into complete records, at most `out.size()` of them (never more
/// than kMaxRecordsPerPass are asked for): it stops at the first incomplete record, or at a
/// header whose magic is wrong (reported as a preamble error). Allocates nothing; any bytes are
/// safe input.
ParseResult parseRecords(std::span<const std::uint8_t> buffer, std::span<RecordSpan> out);

}  // namespace korvane::common
