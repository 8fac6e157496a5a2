#include "common/PortListRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace korvane::common {
namespace {

TEST(PortListRecord, FieldsStandAtTheirOffsetsLittleEndian) {
  PortListEntry entry;
  entry.state = 2;
  entry.logName = "[pc] 192.0.2.9:4000";
  entry.address = "10.0.0.2";
  entry.guest = 1;
  entry.account = "bob#dev";
  entry.kilobytesSent = 0x01020304;
  entry.kilobytesReceived = -1;
  std::array<std::uint8_t, kPortListRecordSize> record{};
  record.fill(0xAA);
  encodePortListRecord(entry, record);

  EXPECT_EQ(record[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[4])), entry.logName);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[260])), "10.0.0.2");
  EXPECT_EQ(record[388], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[392])), "bob#dev");
  EXPECT_EQ(record[520], 0x04);
  EXPECT_EQ(record[523], 0x01);
  EXPECT_EQ(record[527], 0xFF);
  EXPECT_EQ(record[300], 0) << "unused text bytes are zero";

  const PortListEntry back = decodePortListRecord(record);
  EXPECT_EQ(back.logName, entry.logName);
  EXPECT_EQ(back.kilobytesReceived, -1);
  EXPECT_EQ(back.kilobytesSent, 0x01020304);
}

TEST(PortListRecord, LongTextsKeepRoomForTheirZero) {
  PortListEntry entry;
  entry.logName = std::string(400, 'n');
  entry.address = std::string(200, 'a');
  entry.account = std::string(200, 'c');
  std::array<std::uint8_t, kPortListRecordSize> record{};
  encodePortListRecord(entry, record);
  const PortListEntry back = decodePortListRecord(record);
  EXPECT_EQ(back.logName.size(), kLogNameFieldSize - 1);
  EXPECT_EQ(back.address.size(), kAddressFieldSize - 1);
  EXPECT_EQ(back.account.size(), kAccountFieldSize - 1);
}

TEST(PortListRecord, TextWithoutZeroIsReadToTheFieldEnd) {
  std::array<std::uint8_t, kPortListRecordSize> record{};
  std::fill(record.begin() + 392, record.begin() + 520, std::uint8_t{'x'});
  EXPECT_EQ(decodePortListRecord(record).account, std::string(128, 'x'));
}

}  // namespace
}  // namespace korvane::common
