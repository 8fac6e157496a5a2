#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/ControlMessage.h"
#include "common/PortListRecord.h"

/// The replies of the hub control pipe: the listening state (reply 10 to command 9) and the
/// connection list (reply 4 to command 3). Each is the 16-byte header (magic, length of the
/// data, reply code, 0) followed by its data. The hub encodes them, the panel and kvctl decode
/// them.
namespace korvane::common {

/// Every reply fits into this many bytes, header included; the panel takes no longer one.
inline constexpr std::size_t kControlReplyLimit = 409600;
/// The most records a connection list holds: what fits behind the header within the limit.
inline constexpr std::size_t kMaxPortListRecords =
    (kControlReplyLimit - kControlHeaderSize) / kPortListRecordSize;
/// Bytes of the listening-state reply: the header and the state as one signed 32-bit word.
inline constexpr std::size_t kListenStateReplySize = kControlHeaderSize + kControlWordSize;

/// Whether a reply may be read on behind `header`: the magic is right and the header with the
/// data it announces stays within kControlReplyLimit. The reply code is each decoder's concern.
bool isAcceptableReplyHeader(const ControlHeader& header);

/// The reply to command 9: 1 when the hub listens on its port, -1 when another program held the
/// port at start, 0 when the hub has not decided yet.
std::array<std::uint8_t, kListenStateReplySize> encodeListenStateReply(std::int32_t state);
/// The state in `reply` (header and data as received); std::nullopt when the header is not
/// acceptable, the reply code is not 10 or the data holds less than one word.
std::optional<std::int32_t> decodeListenStateReply(std::span<const std::uint8_t> reply);

/// The reply to command 3 holding `records` in their order, or their first kMaxPortListRecords.
std::vector<std::uint8_t> encodePortListReply(std::span<const PortListRecordBytes> records);
/// The connections in `reply` (header and data as received): every whole record within the
/// data the header announces. The reply code is not looked at. std::nullopt when the header is
/// not acceptable or the reply is shorter than a header.
std::optional<std::vector<PortListEntry>> decodePortListReply(std::span<const std::uint8_t> reply);

}  // namespace korvane::common
