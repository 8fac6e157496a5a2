// libFuzzer target for the record parser: whatever bytes a client sends, the parser must stay
// inside the buffer and report records that the port thread can hand on without checking them
// again. Any broken invariant aborts, which libFuzzer reports with the input that caused it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "common/ClientRecord.h"

namespace {

using korvane::common::kMagicOffset;
using korvane::common::kMaxRecordsPerPass;
using korvane::common::kPayloadLengthOffset;
using korvane::common::kRecordHeaderSize;
using korvane::common::kRecordMagic;
using korvane::common::parseRecords;
using korvane::common::ParseResult;
using korvane::common::readBigEndian32;
using korvane::common::RecordSpan;

void check(bool holds, const char* invariant) {
  if (!holds) {
    std::fprintf(stderr, "record parser invariant broken: %s\n", invariant);
    std::abort();
  }
}

/// Parses `buffer` with room for `capacity` records and checks every promise of the parser;
/// returns what it found so that runs with different capacities can be compared.
ParseResult parseAndCheck(std::span<const std::uint8_t> buffer, std::span<RecordSpan> out) {
  const ParseResult result = parseRecords(buffer, out);
  const std::size_t limit = std::min(out.size(), kMaxRecordsPerPass);
  check(result.count <= limit, "count <= min(capacity, 256)");
  check(result.consumed <= buffer.size(), "consumed <= size");

  // Records are contiguous from the buffer's start, each a valid header with its whole payload.
  std::size_t next = 0;
  for (std::size_t i = 0; i < result.count; ++i) {
    const RecordSpan& record = out[i];
    check(record.offset == next, "records are contiguous");
    check(record.length >= kRecordHeaderSize, "a record holds its header");
    check(std::size_t{record.offset} + record.length <= buffer.size(), "record within buffer");
    const std::uint8_t* header = buffer.data() + record.offset;
    check(readBigEndian32(header + kMagicOffset) == kRecordMagic, "record has the magic");
    check(record.length == kRecordHeaderSize + readBigEndian32(header + kPayloadLengthOffset),
          "record length = header + payload length");
    next = std::size_t{record.offset} + record.length;
  }
  check(result.consumed == next, "consumed = end of the last record");

  // Why the parse stopped at `consumed`.
  const std::size_t left = buffer.size() - result.consumed;
  const std::uint8_t* stop = buffer.data() + result.consumed;
  const bool headerAtStop = left >= kRecordHeaderSize;
  const bool wrongMagicAtStop =
      headerAtStop && readBigEndian32(stop + kMagicOffset) != kRecordMagic;
  if (result.count == limit) {
    check(!result.preambleError, "a full list is no preamble error");
    return result;
  }
  check(result.preambleError == wrongMagicAtStop, "preamble error iff wrong magic at the stop");
  if (headerAtStop && !wrongMagicAtStop) {
    const std::uint64_t length =
        kRecordHeaderSize + std::uint64_t{readBigEndian32(stop + kPayloadLengthOffset)};
    check(length > left, "the parse stops only at an incomplete record");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> buffer(data, size);

  // Room for more than a pass may take: the parser must stop at 256 on its own.
  std::array<RecordSpan, kMaxRecordsPerPass + 8> full{};
  const ParseResult whole = parseAndCheck(buffer, full);

  // A smaller list (as a caller with less room passes) sees the same records, fewer of them.
  std::array<RecordSpan, 3> small{};
  const ParseResult part = parseAndCheck(buffer, small);
  check(part.count == std::min<std::size_t>(whole.count, small.size()),
        "a smaller list takes a prefix");
  for (std::size_t i = 0; i < part.count; ++i) {
    check(small[i].offset == full[i].offset && small[i].length == full[i].length,
          "a smaller list takes the same records");
  }
  return 0;
}
