#include <gtest/gtest.h>

#include <string>

#include "common/Utf16.h"

namespace korvane::common {
namespace {

TEST(Utf16, ConvertsValidTextBothWays) {
  struct Row {
    const char* what;
    std::string utf8;
    std::u16string utf16;
  };
  const Row rows[] = {
      {"empty", "", u""},
      {"ASCII", "alice#sales", u"alice#sales"},
      {"two-byte forms", "\xC3\x9C\x6E\xC3\xAF", u"\u00DCn\u00EF"},
      {"three-byte form", "\xE2\x82\xAC", u"\u20AC"},
      {"last unit before the surrogates", "\xED\x9F\xBF", u"\uD7FF"},
      {"first unit behind the surrogates", "\xEE\x80\x80", u"\uE000"},
      {"surrogate pair", "\xF0\x9F\x94\x91", u"\U0001F511"},
      {"last code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"zero byte inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(utf8ToUtf16(row.utf8), row.utf16);
    EXPECT_EQ(utf16ToUtf8(row.utf16), row.utf8);
  }
}

TEST(Utf16, RejectsInvalidUtf8) {
  struct Row {
    const char* what;
    std::string utf8;
  };
  const Row rows[] = {
      {"stray continuation byte", "a\x80"},
      {"lead byte at the end", "a\xC3"},
      {"cut three-byte form", "\xE2\x82"},
      {"lead byte followed by ASCII",
       "\xE2"
       "a"
       "\xAC"},
      {"overlong two-byte slash", "\xC0\xAF"},
      {"overlong zero", "\xC0\x80"},
      {"overlong three-byte form", "\xE0\x80\x80"},
      {"overlong four-byte form", "\xF0\x80\x80\x80"},
      {"encoded high surrogate", "\xED\xA0\x80"},
      {"encoded low surrogate", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"five-byte lead", "\xF8\x88\x80\x80\x80"},
      {"byte 0xFF", "\xFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(utf8ToUtf16(row.utf8), std::nullopt);
  }
}

TEST(Utf16, RejectsUnpairedSurrogates) {
  struct Row {
    const char* what;
    std::u16string utf16;
  };
  const Row rows[] = {
      {"high surrogate at the end", u"ab\xD83D"},
      {"high surrogate before a letter", u"\xD83Dx"},
      {"two high surrogates", u"\xD83D\xD83D\xDD11"},
      {"low surrogate alone", u"\xDD11"},
      {"pair in the wrong order", u"\xDD11\xD83D"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(utf16ToUtf8(row.utf16), std::nullopt);
  }
}

}  // namespace
}  // namespace korvane::common
