#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ClientRecord.h"
#include "hub/ConnectionContext.h"
#include "hub/HostFilter.h"
#include "hub/HubLog.h"
#include "hub/HubLogger.h"
#include "hub/MacTable.h"
#include "hub/PanelNotifier.h"
#include "hub/SendWriter.h"
#include "hub/ShutdownFlag.h"
#include "hub/SocketPort.h"
#include "tests/hub/FakePortConnection.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {

/// What hub 1's classes use, for unit tests: a manual clock, a log in a temporary program
/// directory, the shutdown flag and the panel notifier, and the context of its connections,
/// to which a test adds the objects it needs.
class HubTestBed {
 public:
  HubTestBed() {
    logger->open(std::make_unique<HubLog>(dir.path() + "log/", 1, clock));
    connections.clock = &clock;
    connections.log = logger;
    connections.shutdown = shutdown;
    connections.panels = panels;
    std::string err;
    EXPECT_TRUE(writer->start(&err)) << err;
    connections.sendWriter = writer;
  }

  std::string log() const { return testing::readFile(dir.log("0001_1.log")); }

  /// How many lines of the rotating log end with `text`.
  int linesEndingWith(std::string_view text) const {
    const std::string content = log();
    const std::string needle = std::string(text) + "\r\n";
    int count = 0;
    for (auto at = content.find(needle); at != std::string::npos;
         at = content.find(needle, at + 1)) {
      ++count;
    }
    return count;
  }

  testing::TempProgramDir dir;
  testing::ManualClock clock;
  std::shared_ptr<HubLogger> logger = std::make_shared<HubLogger>(clock);
  std::shared_ptr<ShutdownFlag> shutdown = std::make_shared<ShutdownFlag>();
  std::shared_ptr<PanelNotifier> panels = std::make_shared<PanelNotifier>(shutdown);
  std::shared_ptr<SendWriter> writer = std::make_shared<SendWriter>();
  ConnectionContext connections;
};

/// A record as a client or the hub writes it.
inline std::vector<std::uint8_t> makeRecord(std::uint32_t kind, std::uint32_t type,
                                            std::span<const std::uint8_t> payload,
                                            std::uint32_t option = 0) {
  common::RecordHeader header;
  header.payloadLength = static_cast<std::uint32_t>(payload.size());
  header.kind = kind;
  header.type = type;
  header.option = option;
  const auto bytes = common::encodeRecordHeader(header);
  std::vector<std::uint8_t> record(bytes.begin(), bytes.end());
  record.insert(record.end(), payload.begin(), payload.end());
  return record;
}

inline std::vector<std::uint8_t> controlRecord(common::ControlType type, std::uint32_t option = 0,
                                               std::span<const std::uint8_t> payload = {}) {
  return makeRecord(common::kKindControl, static_cast<std::uint32_t>(type), payload, option);
}

/// A plain data record carrying an Ethernet frame from `source` to `destination`.
inline std::vector<std::uint8_t> frameRecord(const MacAddress& destination,
                                             const MacAddress& source, std::size_t bodySize = 46) {
  std::vector<std::uint8_t> frame(destination.begin(), destination.end());
  frame.insert(frame.end(), source.begin(), source.end());
  frame.push_back(0x08);
  frame.push_back(0x00);
  for (std::size_t i = 0; i < bodySize; ++i) {
    frame.push_back(static_cast<std::uint8_t>(i));
  }
  return makeRecord(1, 0, frame);
}

inline constexpr MacAddress kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

/// The records in `bytes`, whole ones only.
inline std::vector<std::vector<std::uint8_t>> recordsIn(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::vector<std::uint8_t>> records;
  std::size_t at = 0;
  while (bytes.size() - at >= common::kRecordHeaderSize) {
    const std::size_t length =
        common::kRecordHeaderSize +
        common::readBigEndian32(bytes.data() + at + common::kPayloadLengthOffset);
    if (bytes.size() - at < length) {
      break;
    }
    records.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return records;
}

/// The data records (kind not 0) in `bytes`.
inline std::vector<std::vector<std::uint8_t>> dataRecordsIn(
    const std::vector<std::uint8_t>& bytes) {
  std::vector<std::vector<std::uint8_t>> data;
  for (auto& record : recordsIn(bytes)) {
    if (common::readBigEndian32(record.data() + common::kKindOffset) != common::kKindControl) {
      data.push_back(std::move(record));
    }
  }
  return data;
}

/// A port over a fake stream, and that stream.
struct TestPort {
  std::shared_ptr<FakeStream> stream;
  std::shared_ptr<SocketPort> port;
};

inline TestPort makeTestPort(HubTestBed& bed, std::string address = "192.0.2.1",
                             int peerPort = 40000) {
  TestPort test;
  test.stream = std::make_shared<FakeStream>();
  platform::PeerAddress peer;
  peer.numericHost = std::move(address);
  peer.port = peerPort;
  const auto ipv4 = common::parseDottedQuad(peer.numericHost);
  peer.isIpv4 = ipv4.has_value();
  peer.ipv4 = ipv4.value_or(Ipv4Address{});
  test.port = std::make_shared<SocketPort>(bed.clock, bed.logger,
                                           std::make_unique<FakePortConnection>(test.stream), peer);
  return test;
}

/// The LOGIN_OK record the hub sends.
inline std::vector<std::uint8_t> loginOkRecord() {
  return controlRecord(common::ControlType::kLoginOk, 1);
}

}  // namespace korvane::hub
