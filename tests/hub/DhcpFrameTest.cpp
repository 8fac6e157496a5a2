#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "hub/DhcpFrame.h"

namespace korvane::hub {
namespace {

// The worked example of RFC 1071, section 3: the sum of 0001 f203 f4f5 f6f7 is ddf2.
TEST(DhcpFrame, InternetChecksumOfTheRfcExample) {
  const std::array<std::uint8_t, 8> words = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(internetChecksum(words), 0x220D);
  // An odd byte counts as the high half of a last word.
  const std::array<std::uint8_t, 3> odd = {0x12, 0x34, 0x56};
  EXPECT_EQ(internetChecksum(odd), static_cast<std::uint16_t>(~(0x1234 + 0x5600)));
  // The sum carries around.
  const std::array<std::uint8_t, 4> carry = {0xFF, 0xFF, 0x00, 0x02};
  EXPECT_EQ(internetChecksum(carry), static_cast<std::uint16_t>(~0x0002));
}

TEST(DhcpFrame, NothingIsFoundInTooShortFrames) {
  const std::vector<std::uint8_t> frame(kEthernetHeaderSize - 1, 0);
  EXPECT_FALSE(locateDhcpRequest(frame));
  EXPECT_FALSE(isArpRequestFor(frame, 0));
  EXPECT_FALSE(locateDhcpRequest(std::span<const std::uint8_t>()));
}

}  // namespace
}  // namespace korvane::hub
