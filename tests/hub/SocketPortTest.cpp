// Unit tests of a port's identity, address text and counters.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "hub/SocketPort.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;

TEST(SocketPort, LogNameNamesHostAddressAndPortAndFollowsTheLookUp) {
  HubTestBed bed;
  TestPort test = makeTestPort(bed, "2001:db8::7", 4711);
  EXPECT_EQ(test.port->logName(), "[unknown] 2001:db8::7:4711");
  EXPECT_FALSE(test.port->waitForHostName(10ms));
  test.port->setHostName("pc.example.net");
  EXPECT_TRUE(test.port->waitForHostName(0ms));
  EXPECT_EQ(test.port->logName(), "[pc.example.net] 2001:db8::7:4711");
  EXPECT_EQ(test.port->hostName(), "pc.example.net");
}

TEST(SocketPort, TextsAreCutToTheirFields) {
  HubTestBed bed;
  TestPort test = makeTestPort(bed);
  test.port->setHostName(std::string(300, 'h'));
  EXPECT_EQ(test.port->hostName().size(), kPortTextMax);
  EXPECT_EQ(test.port->logName().size(), kPortTextMax);
  test.port->updateAddressText(std::string(200, '1'));
  EXPECT_EQ(test.port->addressText().size(), kAddressTextMax);
}

TEST(SocketPort, AddressTextFollowsTheSharedRule) {
  struct Row {
    const char* before;
    const char* update;
    const char* after;
  };
  const Row rows[] = {
      {"", "", ""},
      {"10.0.0.2", "", "10.0.0.2"},
      {"", "---.---.---.---", "---.---.---.---"},
      {"---.---.---.---", "---.---.---.---", "---.---.---.---"},
      {"10.0.0.2", "---.---.---.---", "10.0.0.2"},
      {"Bridge", "---.---.---.---", "Bridge"},
      {"---.---.---.---", "10.0.0.3", "10.0.0.3"},
      {"10.0.0.2", "Bridge", "Bridge"},
  };
  HubTestBed bed;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.before) + " <- " + row.update);
    TestPort test = makeTestPort(bed);
    test.port->updateAddressText(row.before);
    test.port->updateAddressText(row.update);
    EXPECT_EQ(test.port->addressText(), row.after);
  }
}

TEST(SocketPort, ByteCountersStopAtTheirCap) {
  HubTestBed bed;
  TestPort test = makeTestPort(bed);
  test.port->addBytesReceived(999999999000u);
  test.port->addBytesReceived(5000);
  EXPECT_EQ(test.port->bytesReceived(), kByteCounterCap);
  test.port->addBytesReceived(1);
  EXPECT_EQ(test.port->bytesReceived(), kByteCounterCap);
}

TEST(SocketPort, NoDataReachesAPortBeforeItLogsIn) {
  HubTestBed bed;
  TestPort test = makeTestPort(bed);
  const auto record = frameRecord(kBroadcast, {0x40, 0, 0, 0, 0, 1});
  const std::span<const std::uint8_t> list[] = {record};
  for (const PortState state : {PortState::kCreated, PortState::kAdmitted}) {
    if (state == PortState::kAdmitted) {
      test.port->admit();
    }
    EXPECT_EQ(test.port->sendData(list, record.size()), SendResult::kNotAccepted);
  }
  ASSERT_TRUE(test.port->logIn(loginOkRecord()));
  EXPECT_EQ(test.port->sendData(list, record.size()), SendResult::kSent);
  EXPECT_EQ(dataRecordsIn(test.stream->written()).size(), 1u);
}

TEST(SocketPort, SendErrorsAreLoggedOncePerSecond) {
  HubTestBed bed;
  TestPort first = makeTestPort(bed);
  TestPort second = makeTestPort(bed);
  for (TestPort* test : {&first, &second}) {
    ASSERT_TRUE(test->port->logIn(loginOkRecord()));
    test->stream->failSends(104);
  }
  const auto record = frameRecord(kBroadcast, {0x40, 0, 0, 0, 0, 1});
  const std::span<const std::uint8_t> list[] = {record};
  EXPECT_EQ(first.port->sendData(list, record.size()), SendResult::kFailed);
  EXPECT_EQ(second.port->sendData(list, record.size()), SendResult::kFailed);
  EXPECT_EQ(bed.linesEndingWith(" SendComplete Error 104"), 1) << "two errors within a second";
}

}  // namespace
}  // namespace korvane::hub
