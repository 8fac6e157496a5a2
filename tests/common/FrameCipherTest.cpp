#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "common/Aes128.h"
#include "common/FrameCipher.h"

namespace korvane::common {
namespace {

// The key and block of the AES-128 example of FIPS-197, Appendix C.1.
constexpr NetworkKey kFipsKey = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
constexpr std::uint8_t kFipsPlain[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr std::uint8_t kFipsCipher[16] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                          0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};

// An Ethernet header: broadcast destination, a client adapter's source, EtherType IPv4.
constexpr std::uint8_t kEthernetHeader[14] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x52,
                                              0x54, 0x00, 0x12, 0x34, 0x56, 0x08, 0x00};

std::vector<std::uint8_t> frameOfLength(std::size_t length) {
  std::vector<std::uint8_t> frame(length);
  std::iota(frame.begin(), frame.end(), std::uint8_t{0x30});
  std::copy_n(kEthernetHeader, std::min(length, sizeof kEthernetHeader), frame.begin());
  return frame;
}

/// The frame in a buffer with room for its padding (and one spare block, marked, that must stay).
std::vector<std::uint8_t> bufferWith(const std::vector<std::uint8_t>& frame) {
  std::vector<std::uint8_t> buffer(frame.size() + 2 * kAesBlockSize, 0xEE);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  return buffer;
}

TEST(FrameCipher, EncryptsTheRestOfTheFrameAsFips197Says) {
  std::vector<std::uint8_t> frame(kEthernetHeader, kEthernetHeader + 14);
  frame.insert(frame.end(), kFipsPlain, kFipsPlain + 16);
  std::vector<std::uint8_t> buffer = bufferWith(frame);
  std::string err;
  const auto length = encryptFrame(kFipsKey, buffer, frame.size(), &err);
  ASSERT_TRUE(length) << err;
  ASSERT_EQ(*length, 30u);
  EXPECT_TRUE(std::equal(kEthernetHeader, kEthernetHeader + 14, buffer.begin()));
  EXPECT_TRUE(std::equal(kFipsCipher, kFipsCipher + 16, buffer.begin() + 14));
  EXPECT_EQ(buffer[30], 0xEE) << "nothing behind the payload is touched";
}

TEST(FrameCipher, RoundTripsFramesOfEveryLengthAroundTheBlocks) {
  for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{13}, std::size_t{14},
                             std::size_t{15}, std::size_t{29}, std::size_t{30}, std::size_t{31},
                             std::size_t{60}, std::size_t{1514}, std::size_t{9014}}) {
    SCOPED_TRACE("frame of " + std::to_string(length) + " bytes");
    const std::vector<std::uint8_t> frame = frameOfLength(length);
    std::vector<std::uint8_t> buffer = bufferWith(frame);
    std::string err;
    const auto payloadLength = encryptFrame(kFipsKey, buffer, length, &err);
    ASSERT_TRUE(payloadLength) << err;
    EXPECT_EQ(*payloadLength, encryptedPayloadSize(length));
    std::span<std::uint8_t> payload(buffer.data(), *payloadLength);
    const auto frameLength =
        decryptFrame(kFipsKey, payload, static_cast<std::uint32_t>(length), &err);
    ASSERT_TRUE(frameLength) << err;
    ASSERT_EQ(*frameLength, length);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buffer.begin()));
  }
}

TEST(FrameCipher, PadsToWholeBlocksWithZeros) {
  struct Row {
    std::size_t frame;
    std::size_t payload;
  };
  const Row rows[] = {
      {15, 30},     // one byte behind the header takes a whole block
      {30, 30},     // exactly one block: no padding
      {31, 46},     // one byte more: a second block
      {60, 62},     // the shortest Ethernet frame without its check sequence
      {1514, 1518}  // a full frame of 1500 bytes of IP
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("frame of " + std::to_string(row.frame) + " bytes");
    EXPECT_EQ(encryptedPayloadSize(row.frame), row.payload);
    const std::vector<std::uint8_t> frame = frameOfLength(row.frame);
    std::vector<std::uint8_t> buffer = bufferWith(frame);
    ASSERT_TRUE(encryptFrame(kFipsKey, buffer, row.frame, nullptr));
    // Decrypted by hand, the blocks hold the frame's rest and then zeros.
    std::vector<std::uint8_t> blocks(buffer.begin() + 14,
                                     buffer.begin() + static_cast<std::ptrdiff_t>(row.payload));
    ASSERT_TRUE(aes128DecryptEcb(kFipsKey, blocks));
    EXPECT_TRUE(std::equal(frame.begin() + 14, frame.end(), blocks.begin()));
    EXPECT_TRUE(std::all_of(blocks.begin() + static_cast<std::ptrdiff_t>(row.frame - 14),
                            blocks.end(), [](std::uint8_t byte) { return byte == 0; }));
  }
}

TEST(FrameCipher, KeepsTheEthernetHeaderPlain) {
  const std::vector<std::uint8_t> frame = frameOfLength(100);
  std::vector<std::uint8_t> buffer = bufferWith(frame);
  ASSERT_TRUE(encryptFrame(kFipsKey, buffer, frame.size(), nullptr));
  EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 14, buffer.begin()));
  EXPECT_FALSE(std::equal(frame.begin() + 14, frame.begin() + 30, buffer.begin() + 14));
}

TEST(FrameCipher, LeavesFramesOfFourteenBytesOrFewerAsTheyAre) {
  for (std::size_t length : {std::size_t{0}, std::size_t{6}, std::size_t{14}}) {
    SCOPED_TRACE("frame of " + std::to_string(length) + " bytes");
    const std::vector<std::uint8_t> frame = frameOfLength(length);
    std::vector<std::uint8_t> buffer = frame;  // no room beyond the frame is needed
    const auto payloadLength = encryptFrame(kFipsKey, buffer, length, nullptr);
    ASSERT_TRUE(payloadLength);
    EXPECT_EQ(*payloadLength, length);
    EXPECT_EQ(buffer, frame);
  }
}

TEST(FrameCipher, RefusesABufferWithoutRoomForThePadding) {
  const std::vector<std::uint8_t> frame = frameOfLength(20);
  std::vector<std::uint8_t> buffer = frame;  // 20 bytes; the payload needs 30
  std::string err;
  EXPECT_FALSE(encryptFrame(kFipsKey, buffer, frame.size(), &err));
  EXPECT_NE(err.find("no room"), std::string::npos) << err;
  EXPECT_EQ(buffer, frame) << "a refused frame is left alone";
  EXPECT_FALSE(encryptFrame(kFipsKey, buffer, 21, &err)) << "a frame longer than its buffer";
}

TEST(FrameCipher, RefusesMalformedPayloads) {
  struct Row {
    const char* what;
    std::size_t payload;
    std::uint32_t plainLength;
  };
  const Row rows[] = {
      // The payload does not end on a block boundary.
      {"cut block", 29, 29},
      {"one byte beyond the blocks", 31, 30},
      // The plain length does not fit the payload.
      {"plain length longer than the payload", 30, 31},
      {"padding of a whole block", 46, 30},
      {"plain length zero with blocks behind", 30, 0},
      {"plain length of the header alone with a block behind", 30, 14},
      {"short payload claiming a longer frame", 10, 14},
      {"header-only payload claiming a longer frame", 14, 15},
      {"huge plain length", 30, 0xFFFFFFFF},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> payload(row.payload, 0x5A);
    std::string err;
    EXPECT_FALSE(decryptFrame(kFipsKey, payload, row.plainLength, &err));
    EXPECT_FALSE(err.empty());
  }
}

TEST(FrameCipher, AWrongKeyGivesOtherBytesNotAFailure) {
  // ECB carries no check value: a wrong key shows only as garbage behind the header.
  const std::vector<std::uint8_t> frame = frameOfLength(64);
  std::vector<std::uint8_t> buffer = bufferWith(frame);
  const auto payloadLength = encryptFrame(kFipsKey, buffer, frame.size(), nullptr);
  ASSERT_TRUE(payloadLength);
  NetworkKey otherKey = kFipsKey;
  otherKey[0] ^= 1;
  std::span<std::uint8_t> payload(buffer.data(), *payloadLength);
  ASSERT_TRUE(decryptFrame(otherKey, payload, 64, nullptr));
  EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 14, buffer.begin()));
  EXPECT_FALSE(std::equal(frame.begin() + 14, frame.end(), buffer.begin() + 14));
}

}  // namespace
}  // namespace korvane::common
