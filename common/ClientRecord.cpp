#include "common/ClientRecord.h"

#include <algorithm>

namespace korvane::common {

std::array<std::uint8_t, kRecordHeaderSize> encodeRecordHeader(const RecordHeader& header) {
  std::array<std::uint8_t, kRecordHeaderSize> bytes{};
  writeBigEndian32(&bytes[kMagicOffset], header.magic);
  writeBigEndian32(&bytes[kPayloadLengthOffset], header.payloadLength);
  writeBigEndian32(&bytes[kKindOffset], header.kind);
  writeBigEndian32(&bytes[kTypeOffset], header.type);
  writeBigEndian32(&bytes[kPlainLengthOffset], header.plainLength);
  writeBigEndian32(&bytes[kOptionOffset], header.option);
  std::copy(header.clientBytes.begin(), header.clientBytes.end(),
            bytes.begin() + kClientBytesOffset);
  return bytes;
}

RecordHeader decodeRecordHeader(std::span<const std::uint8_t, kRecordHeaderSize> bytes) {
  RecordHeader header;
  header.magic = readBigEndian32(&bytes[kMagicOffset]);
  header.payloadLength = readBigEndian32(&bytes[kPayloadLengthOffset]);
  header.kind = readBigEndian32(&bytes[kKindOffset]);
  header.type = readBigEndian32(&bytes[kTypeOffset]);
  header.plainLength = readBigEndian32(&bytes[kPlainLengthOffset]);
  header.option = readBigEndian32(&bytes[kOptionOffset]);
  std::copy(bytes.begin() + kClientBytesOffset, bytes.end(), header.clientBytes.begin());
  return header;
}

ParseResult parseRecords(std::span<const std::uint8_t> buffer, std::span<RecordSpan> out) {
  ParseResult result;
  const std::size_t limit = std::min(out.size(), kMaxRecordsPerPass);
  std::size_t offset = 0;
  while (buffer.size() - offset >= kRecordHeaderSize && result.count < limit) {
    const std::uint8_t* header = buffer.data() + offset;
    if (readBigEndian32(header + kMagicOffset) != kRecordMagic) {
      result.preambleError = true;
      break;
    }
    // 64-bit arithmetic: a payload length near 2^32 must not wrap into a short record.
    const std::uint64_t length =
        kRecordHeaderSize + std::uint64_t{readBigEndian32(header + kPayloadLengthOffset)};
    if (length > buffer.size() - offset) {
      break;
    }
    out[result.count++] = RecordSpan{static_cast<std::uint32_t>(offset),
                                     static_cast<std::uint32_t>(length)};
    offset += static_cast<std::size_t>(length);
  }
  result.consumed = offset;
  return result;
}

}  // namespace korvane::common
