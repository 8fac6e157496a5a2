#include "common/ControlReply.h"

#include <algorithm>

namespace korvane::common {

namespace {

// The header of `reply` when it has one that may be read on; std::nullopt otherwise.
std::optional<ControlHeader> acceptableHeaderOf(std::span<const std::uint8_t> reply) {
  if (reply.size() < kControlHeaderSize) {
    return std::nullopt;
  }
  const ControlHeader header = decodeControlHeader(reply.first<kControlHeaderSize>());
  if (!isAcceptableReplyHeader(header)) {
    return std::nullopt;
  }
  return header;
}

// The data behind the header, as much of what the header announces as `reply` holds.
std::span<const std::uint8_t> dataOf(std::span<const std::uint8_t> reply,
                                     const ControlHeader& header) {
  const std::span<const std::uint8_t> data = reply.subspan(kControlHeaderSize);
  return data.first(std::min<std::size_t>(data.size(), header.length));
}

}  // namespace

bool isAcceptableReplyHeader(const ControlHeader& header) {
  return header.magic == kControlMagic &&
         std::uint64_t{header.length} + kControlHeaderSize <= kControlReplyLimit;
}

std::array<std::uint8_t, kListenStateReplySize> encodeListenStateReply(std::int32_t state) {
  std::array<std::uint8_t, kListenStateReplySize> reply{};
  const auto header =
      encodeControlHeader({kControlMagic, kControlWordSize,
                           static_cast<std::uint32_t>(HubCommand::kListenStateReply), 0});
  std::copy(header.begin(), header.end(), reply.begin());
  putWord(reply, kControlHeaderSize, static_cast<std::uint32_t>(state));
  return reply;
}

std::optional<std::int32_t> decodeListenStateReply(std::span<const std::uint8_t> reply) {
  const std::optional<ControlHeader> header = acceptableHeaderOf(reply);
  if (!header || header->command != static_cast<std::uint32_t>(HubCommand::kListenStateReply)) {
    return std::nullopt;
  }
  const std::span<const std::uint8_t> data = dataOf(reply, *header);
  if (data.size() < kControlWordSize) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(wordAt(data, 0));
}

std::vector<std::uint8_t> encodePortListReply(std::span<const PortListRecordBytes> records) {
  records = records.first(std::min(records.size(), kMaxPortListRecords));
  const std::size_t dataBytes = records.size() * kPortListRecordSize;
  std::vector<std::uint8_t> reply;
  reply.reserve(kControlHeaderSize + dataBytes);
  const auto header =
      encodeControlHeader({kControlMagic, static_cast<std::uint32_t>(dataBytes),
                           static_cast<std::uint32_t>(HubCommand::kPortListReply), 0});
  reply.insert(reply.end(), header.begin(), header.end());
  for (const PortListRecordBytes& record : records) {
    reply.insert(reply.end(), record.begin(), record.end());
  }
  return reply;
}

std::optional<std::vector<PortListEntry>> decodePortListReply(std::span<const std::uint8_t> reply) {
  const std::optional<ControlHeader> header = acceptableHeaderOf(reply);
  if (!header) {
    return std::nullopt;
  }
  std::span<const std::uint8_t> data = dataOf(reply, *header);
  std::vector<PortListEntry> entries;
  for (; data.size() >= kPortListRecordSize; data = data.subspan(kPortListRecordSize)) {
    entries.push_back(decodePortListRecord(data.first<kPortListRecordSize>()));
  }
  return entries;
}

}  // namespace korvane::common
