#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "hub/DottedAddress.h"

namespace korvane::hub {
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

}  // namespace
}  // namespace korvane::hub
