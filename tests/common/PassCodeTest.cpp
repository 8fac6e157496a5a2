// Unscrambling of pass codes, checked against codes made by the test's own scrambler.

#include <gtest/gtest.h>

#include <sstream>

#include "common/PassCode.h"
#include "tests/support/PassCodeScrambler.h"

namespace korvane::common {
namespace {

using testing::scramblePassCode;

TEST(PassCode, UnscramblesCodesOfTheIndependentScrambler) {
  const struct {
    const char* address;
    std::size_t lineLength;
  } cases[] = {
      // Lengths 36, 37, 38 give Base64 without padding, with "==" and with "=".
      {"http://dns.example/update?code=ABCDE", 0},
      {"http://dns.example/update?code=ABCDEF", 0},
      {"http://dns.example/update?code=ABCDEFG", 0},
      {"https://dns.example:8443/u?c=0123456789abcdef0123456789abcdef", 0},
      // Line breaks every 16 or 76 characters are skipped.
      {"https://dns.example/update?code=line-broken-code-with-padding", 16},
      {"http://dns.example/update?code=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
       76},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const auto address = unscramblePassCode(scramblePassCode(c.address, c.lineLength), nullptr);
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(*address, c.address);
  }
}

TEST(PassCode, Base64DecodingStopsAtPaddingAndSkipsForeignCharacters) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QQ==", "A"},
      {"QUJD\r\nRE VG", "ABCDEF"},
      {"QQ==QUJD", "A"},    // nothing after the padded group counts
      {"QUJDQ=Q=", "ABC"},  // '=' before a letter: that group gives nothing and ends it
      {"QUJDRA", "ABCD"},   // an unpadded end counts as padded
      {"", ""},
      {"@@@@", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(decodePassCodeBase64(c.text), c.bytes);
  }
  EXPECT_FALSE(unscramblePassCode("====", nullptr).has_value());
}

TEST(PassCode, DiagnosticsNeverShowTheAddress) {
  const std::string address = "https://dns.example/update?code=secret-update-code";
  std::ostringstream diagnostics;
  ASSERT_EQ(unscramblePassCode(scramblePassCode(address), &diagnostics), address);
  const std::string text = diagnostics.str();
  EXPECT_NE(text.find("iPassCodeSize: " + std::to_string(address.size()) + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("Shift done\n"), std::string::npos);
  // Neither the address nor its not yet rotated form ("before shift") may appear.
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("before shift"), std::string::npos);
  EXPECT_EQ(text.find("dns.example"), std::string::npos);
}

}  // namespace
}  // namespace korvane::common
