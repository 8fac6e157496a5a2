#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "common/SealedField.h"

namespace korvane::common {
namespace {

// Reference values made once with the OpenSSL command line tool, independently of this code:
//   python3 -c "import sys; t='alice'.encode('utf-16-le');
//     sys.stdout.buffer.write(t + b'\0' * (128 - len(t)))" |
//   openssl enc -aes-128-ecb -nopad -K 5A17C3089E41D26B702FE4931CB8460D | xxd -p -u -c 256
// and likewise for the other texts and for single blocks (`head -c 16 /dev/zero | openssl enc
// -d ...` for the all-zero cipher block).

// The cipher of an all-zero plain block: the padding blocks behind a short text.
const std::string kZeroPlainBlock = "E7461C19D4AF77034AEA42326FAE393D";
// The plain block that an all-zero cipher block decrypts to.
const NetworkKey kZeroCipherPlain = {0x00, 0x32, 0xF5, 0x46, 0x4B, 0x1D, 0xDF, 0x7F,
                                     0xFF, 0x8B, 0x93, 0x6C, 0x87, 0xC2, 0x45, 0xD9};

std::string repeated(const std::string& block, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    text += block;
  }
  return text;
}

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

TEST(SealedField, SealsTextsToKnownDigits) {
  struct Row {
    const char* what;
    std::u16string text;
    std::string digits;
  };
  const Row rows[] = {
      {"short ASCII name", u"alice",
       "1076AA22B625CE2B1033678ADB090ABD" + repeated(kZeroPlainBlock, 7)},
      {"non-ASCII text with a surrogate pair", u"\u00DCn\u00EFc\u00F8d\u00E9 \U0001F511",
       "8CAB95B0A31F2F86AB4E9A5D5678EE4D197B152222508ED3760E5303CB4DAA51" +
           repeated(kZeroPlainBlock, 6)},
      {"64 code units fill the block", std::u16string(64, u'x'),
       repeated("73733108A6860D3E95F69EFCC73CA424", 8)},
      {"empty text", u"", repeated(kZeroPlainBlock, 8)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(sealText(row.text), row.digits);
    EXPECT_EQ(unsealText(row.digits), row.text);
  }
}

TEST(SealedField, RoundTripsTexts) {
  const std::u16string texts[] = {
      u"a",
      u"alice#sales",
      u"pass word with blanks",
      std::u16string(63, u'p'),
      std::u16string(64, u'\u00E9'),
      u"\U0001F511\U0001F511",
  };
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(::testing::PrintToString(text));
    const std::optional<std::string> digits = sealText(text);
    ASSERT_TRUE(digits.has_value());
    EXPECT_EQ(digits->size(), kSealedTextDigits);
    EXPECT_EQ(unsealText(*digits), text);
  }
}

TEST(SealedField, CutsLongTextAtSixtyFourCodeUnits) {
  const std::u16string text = std::u16string(64, u'x') + u"tail";
  EXPECT_EQ(sealText(text), sealText(std::u16string(64, u'x')));
  EXPECT_EQ(unsealText(*sealText(text)), std::u16string(64, u'x'));
}

TEST(SealedField, ConvertsUtf8Texts) {
  const std::optional<std::string> digits = sealUtf8Text(
      "\xC3\x9Cn\xC3\xAF"
      "c\xC3\xB8"
      "d\xC3\xA9 \xF0\x9F\x94\x91");
  EXPECT_EQ(digits, sealText(u"\u00DCn\u00EFc\u00F8d\u00E9 \U0001F511"));
  ASSERT_TRUE(digits.has_value());
  EXPECT_EQ(unsealUtf8Text(*digits),
            "\xC3\x9Cn\xC3\xAF"
            "c\xC3\xB8"
            "d\xC3\xA9 \xF0\x9F\x94\x91");
}

TEST(SealedField, RefusesInvalidUtf8) {
  EXPECT_EQ(sealUtf8Text("bad\xC3"), std::nullopt);
  EXPECT_EQ(sealUtf8Text("\xED\xA0\x80"), std::nullopt);
}

TEST(SealedField, ReadsOnlyUpperCaseDigits) {
  const std::string digits = *sealText(u"alice");
  struct Row {
    const char* what;
    std::string damaged;
    std::string equivalent;  // the same digits with the damage read as '0'
  };
  std::string withG = digits;
  withG[5] = 'G';
  std::string withZero = digits;
  withZero[5] = '0';
  std::string lowerZero = digits;
  std::replace_if(
      lowerZero.begin(), lowerZero.end(), [](char c) { return c >= 'A' && c <= 'F'; }, '0');
  const Row rows[] = {
      {"lower-case digits", lowerCased(digits), lowerZero},
      {"a letter beyond F", withG, withZero},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::optional<std::u16string> text = unsealText(row.damaged);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(*text, u"alice");
    EXPECT_EQ(text, unsealText(row.equivalent));
  }
}

TEST(SealedField, CountsMissingDigitsAsZero) {
  const std::string digits = *sealText(u"alice");
  // The first block holds all of "alice" and its terminator; the zero cipher blocks behind it
  // do not matter.
  EXPECT_EQ(unsealText(digits.substr(0, 32)), u"alice");
  // A cut inside the first block reads the rest as 0.
  EXPECT_EQ(unsealText(digits.substr(0, 20)), unsealText(digits.substr(0, 20) + "000000000000"));
  // No digits at all: every block decrypts to the plain block of a zero cipher block, which
  // holds no zero code unit, so all 64 code units are read.
  std::u16string expected;
  for (int block = 0; block < 8; ++block) {
    for (std::size_t i = 0; i < kZeroCipherPlain.size(); i += 2) {
      expected.push_back(static_cast<char16_t>(kZeroCipherPlain[i] | kZeroCipherPlain[i + 1] << 8));
    }
  }
  EXPECT_EQ(unsealText(""), expected);
}

TEST(SealedField, IgnoresDigitsBeyondTheField) {
  const std::string digits = *sealText(u"alice");
  EXPECT_EQ(unsealText(digits + "FFFF"), u"alice");
}

TEST(SealedField, GarbageThatUnsealsToAnUnpairedSurrogateHasNoUtf8Form) {
  // The plain block of a zero cipher block ends in the high surrogate 0xD945, followed by the
  // unit 0x3200 of the next block.
  EXPECT_EQ(unsealUtf8Text(""), std::nullopt);
}

TEST(SealedField, SealsNetworkKeysAsOneBlock) {
  const NetworkKey key = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  // printf 00112233445566778899AABBCCDDEEFF | xxd -r -p |
  //   openssl enc -aes-128-ecb -nopad -K 5A17C3089E41D26B702FE4931CB8460D | xxd -p -u
  const std::string digits = "EEDD03781E8552C0AED027453AFC9243";
  EXPECT_EQ(sealNetworkKey(key), digits);
  EXPECT_EQ(unsealNetworkKey(digits), key);
  EXPECT_EQ(unsealNetworkKey(digits + "ABCD"), key);
  EXPECT_NE(unsealNetworkKey(lowerCased(digits)), key);
  EXPECT_EQ(unsealNetworkKey(lowerCased(digits)),
            unsealNetworkKey("00000378108552000000274530009243"));
}

TEST(SealedField, ReadsTheUnsetKeyPlaceholderAsAZeroCipherBlock) {
  // The 22 zeros that stand for "no key" are a cipher block of zeros once the missing digits
  // count as 0; it decrypts to a key that is not zero.
  EXPECT_EQ(unsealNetworkKey("0000000000000000000000"), kZeroCipherPlain);
  EXPECT_EQ(sealNetworkKey(kZeroCipherPlain), std::string(32, '0'));
}

}  // namespace
}  // namespace korvane::common
