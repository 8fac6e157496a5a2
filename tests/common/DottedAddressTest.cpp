#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/DottedAddress.h"

namespace korvane::common {
namespace {

TEST(DottedAddress, ReadsTheFormsOfTheStandardConversion) {
  struct Row {
    std::string text;
    std::optional<std::uint32_t> expected;
  };
  const Row rows[] = {
      // Four parts.
      {"192.168.10.1", 0xC0A80A01},
      {"0.0.0.0", 0},
      {"255.255.255.255", 0xFFFFFFFF},
      {"010.0.0.1", 0x08000001},      // octal
      {"0x0A.0X0b.0.1", 0x0A0B0001},  // hexadecimal
      {"0x.0.0.1", 0x00000001},       // "0x" without digits is 0
      // Fewer parts: the last fills the rest.
      {"10.1", 0x0A000001},
      {"10.1.258", 0x0A010102},
      {"3232238081", 0xC0A80A01},
      {"0xC0A80A01", 0xC0A80A01},
      // A blank ends the address, whatever follows it.
      {"10.0.0.1 trailing", 0x0A000001},
      {"10.0.0.1\t", 0x0A000001},
      // Invalid.
      {"", std::nullopt},
      {" 10.0.0.1", std::nullopt},
      {"10.0.0.256", std::nullopt},
      {"256.0.0.1", std::nullopt},
      {"10.0.65536", std::nullopt},
      {"10.16777216", std::nullopt},
      {"4294967296", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"10.0.0.1.", std::nullopt},
      {"10..0.1", std::nullopt},
      {"10.0.0.1.5", std::nullopt},
      {"08.0.0.1", std::nullopt},
      {"10.0.0.x", std::nullopt},
      {"10.0.0.1x", std::nullopt},
      {"-1.0.0.1", std::nullopt},
      {"0x1g", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parseInetAddress(row.text), row.expected);
  }
}

TEST(DottedAddress, WritesFourDecimalNumbers) {
  EXPECT_EQ(dottedText(0xC0A80A01), "192.168.10.1");
  EXPECT_EQ(dottedText(0), "0.0.0.0");
  EXPECT_EQ(dottedText(0xFFFFFFFF), "255.255.255.255");
}

// The filter file's reading of a dotted quad.
TEST(DottedAddress, ParsesDottedQuadsStrictly) {
  struct Row {
    std::string text;
    std::optional<Ipv4Address> expected;
  };
  const Row rows[] = {
      // Accepted forms.
      {"192.168.1.7", Ipv4Address{192, 168, 1, 7}},
      {"0.0.0.0", Ipv4Address{0, 0, 0, 0}},
      {"255.255.255.255", Ipv4Address{255, 255, 255, 255}},
      {"192.168..1", Ipv4Address{192, 168, 0, 1}},
      {"...", Ipv4Address{0, 0, 0, 0}},
      {"1...", Ipv4Address{1, 0, 0, 0}},
      {"010.001.000.009", Ipv4Address{10, 1, 0, 9}},
      // Refused forms.
      {"192.168.1.256", std::nullopt},
      {"192.168.1", std::nullopt},
      {"192.168.1.7.", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"0001.2.3.4", std::nullopt},
      {"1.2.3.-4", std::nullopt},
      {"1.2.3.+4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"1.2.3.0x4", std::nullopt},
      {"", std::nullopt},
      {"localhost", std::nullopt},
      {"999.0.0.0", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("\"" + row.text + "\"");
    EXPECT_EQ(parseDottedQuad(row.text), row.expected);
  }
}

// What an administrator types.
TEST(DottedAddress, ParsesTypedDottedQuads) {
  struct Row {
    const char* text;
    std::optional<Ipv4Address> address;
  };
  const Row rows[] = {
      {"192.168.1.7", Ipv4Address{192, 168, 1, 7}},
      {"0.0.0.0", Ipv4Address{0, 0, 0, 0}},
      {"255.255.255.255", Ipv4Address{255, 255, 255, 255}},
      {"010.001.000.009", Ipv4Address{10, 1, 0, 9}},
      // Refused: what the hub would read leniently and what it would not read at all.
      {"192.168..1", std::nullopt},
      {"192.168.1.256", std::nullopt},
      {"192.168.1", std::nullopt},
      {"192.168.1.7.", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {".1.2.3", std::nullopt},
      {"1.2.3.0004", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4x", std::nullopt},
      {"-1.2.3.4", std::nullopt},
      {"", std::nullopt},
      {"host.example.net", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string err;
    EXPECT_EQ(parseIpv4Address(row.text, &err), row.address);
    if (!row.address) {
      EXPECT_NE(err.find("is not an IPv4 address"), std::string::npos) << err;
    }
  }
}

// The three readings side by side, on the texts where they part: the DHCP files' standard
// conversion, the filter file's dotted quad and the typed one.
TEST(DottedAddress, TheThreeReadingsDifferWhereTheirFilesDo) {
  struct Row {
    std::string text;
    std::optional<std::uint32_t> inet;
    std::optional<Ipv4Address> filterFile;
    bool typed;  // the typed reading takes it, as the same address as the filter file's
  };
  const Row rows[] = {
      {"192.168.1.7", 0xC0A80107, Ipv4Address{192, 168, 1, 7}, true},
      {"010.0.0.1", 0x08000001, Ipv4Address{10, 0, 0, 1}, true},  // octal for the conversion
      {"192.168..1", std::nullopt, Ipv4Address{192, 168, 0, 1}, false},
      {"...", std::nullopt, Ipv4Address{0, 0, 0, 0}, false},
      {"10.1", 0x0A000001, std::nullopt, false},
      {"0x0A.0.0.1", 0x0A000001, std::nullopt, false},
      {"10.0.0.1 x", 0x0A000001, std::nullopt, false},
      {"3232235777", 0xC0A80101, std::nullopt, false},
      {"08.0.0.1", std::nullopt, Ipv4Address{8, 0, 0, 1}, true},
      {"192.168.1.256", std::nullopt, std::nullopt, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("\"" + row.text + "\"");
    EXPECT_EQ(parseInetAddress(row.text), row.inet);
    EXPECT_EQ(parseDottedQuad(row.text), row.filterFile);
    std::string err;
    EXPECT_EQ(parseIpv4Address(row.text, &err),
              row.typed ? row.filterFile : std::optional<Ipv4Address>());
  }
}

}  // namespace
}  // namespace korvane::common
