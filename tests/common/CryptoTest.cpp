#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/Aes128.h"
#include "common/Md5.h"

namespace korvane::common {
namespace {

std::vector<std::uint8_t> bytesOfHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

template <typename Bytes>
std::string hexOf(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

Aes128Key keyOfHex(const std::string& hex) {
  const std::vector<std::uint8_t> bytes = bytesOfHex(hex);
  Aes128Key key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

std::string md5HexOf(const std::string& text) {
  const std::optional<Md5Digest> digest =
      md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return digest ? hexOf(*digest) : std::string("(failed)");
}

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
  struct Row {
    std::string message;
    std::string digest;
  };
  const Row rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("message \"" + row.message + "\"");
    EXPECT_EQ(md5HexOf(row.message), row.digest);
  }
}

TEST(Md5, DigestsBinaryDataWithZeroBytes) {
  // A login answer digests a block full of zero bytes; they must count, not end the data.
  // Reference: printf '\0\0\0\0' | md5sum
  const std::vector<std::uint8_t> zeros(4, 0);
  const std::optional<Md5Digest> digest = md5Digest(zeros);
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(hexOf(*digest), "f1d3ff8443297732862df21dc4e57262");
}

TEST(Aes128, EncryptsTheExampleVectorsOfFips197) {
  struct Row {
    const char* what;
    std::string key;
    std::string plain;
    std::string cipher;
  };
  const Row rows[] = {
      {"appendix C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
       "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"appendix B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
       "3925841d02dc09fbdc118597196a0b32"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> data = bytesOfHex(row.plain);
    ASSERT_TRUE(aes128EncryptEcb(keyOfHex(row.key), data));
    EXPECT_EQ(hexOf(data), row.cipher);
    ASSERT_TRUE(aes128DecryptEcb(keyOfHex(row.key), data));
    EXPECT_EQ(hexOf(data), row.plain);
  }
}

TEST(Aes128, EncryptsEveryBlockOnItsOwn) {
  // ECB: three copies of the appendix C.1 block give three copies of its cipher block, with no
  // padding block behind them.
  const Aes128Key key = keyOfHex("000102030405060708090a0b0c0d0e0f");
  const std::string plainBlock = "00112233445566778899aabbccddeeff";
  std::vector<std::uint8_t> data = bytesOfHex(plainBlock + plainBlock + plainBlock);
  ASSERT_TRUE(aes128EncryptEcb(key, data));
  const std::string cipherBlock = "69c4e0d86a7b0430d8cdb78070b4c55a";
  EXPECT_EQ(hexOf(data), cipherBlock + cipherBlock + cipherBlock);
  ASSERT_TRUE(aes128DecryptEcb(key, data));
  EXPECT_EQ(hexOf(data), plainBlock + plainBlock + plainBlock);
}

TEST(Aes128, RefusesPartialBlocksAndLeavesThemUnchanged) {
  const Aes128Key key = keyOfHex("000102030405060708090a0b0c0d0e0f");
  for (const std::size_t size : {1u, 15u, 17u, 31u, 33u}) {
    SCOPED_TRACE("size " + std::to_string(size));
    std::vector<std::uint8_t> data(size, 0xAB);
    const std::vector<std::uint8_t> original = data;
    EXPECT_FALSE(aes128EncryptEcb(key, data));
    EXPECT_EQ(data, original);
    EXPECT_FALSE(aes128DecryptEcb(key, data));
    EXPECT_EQ(data, original);
  }
}

TEST(Aes128, AcceptsNoDataAtAll) {
  std::vector<std::uint8_t> empty;
  EXPECT_TRUE(aes128EncryptEcb(Aes128Key{}, empty));
  EXPECT_TRUE(aes128DecryptEcb(Aes128Key{}, empty));
}

}  // namespace
}  // namespace korvane::common
