#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "common/Atoi.h"

namespace korvane::common {
namespace {

TEST(Atoi, ReadsLikeC) {
  struct Row {
    std::string text;
    int expected;
  };
  const Row rows[] = {
      // Plain numbers and signs.
      {"0", 0},
      {"42", 42},
      {"+5", 5},
      {"-7", -7},
      {"0003", 3},
      // Leading blanks of every kind are skipped; nothing else is.
      {"  42", 42},
      {std::string(" \t\n\v\f\r-3"), -3},
      {"x42", 0},
      // Reading stops at the first non-digit.
      {"12abc", 12},
      {"8080 ", 8080},
      {"1.5", 1},
      {"0x10", 0},
      {"4 2", 4},
      // No digits at all.
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+-5", 0},
      {"- 5", 0},
      {"<NONE>", 0},
      // The 32-bit limits, and beyond them clamped.
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999999", INT_MAX},
      {"-99999999999999999999999999", INT_MIN},
      {"00000000000000000000000000012", 12},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("text \"" + row.text + "\"");
    EXPECT_EQ(atoiLike(row.text), row.expected);
  }
}

TEST(Atoi, SixtyFourBitReadingClampsToItsRange) {
  const std::pair<std::string, std::int64_t> rows[] = {
      {" -42x", -42},
      {"2147483648", 2147483648LL},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", INT64_MIN},
      {"99999999999999999999999999", INT64_MAX},
      {"soon", 0},
  };
  for (const auto& [text, expected] : rows) {
    SCOPED_TRACE("text \"" + text + "\"");
    EXPECT_EQ(strtollLike(text), expected);
  }
}

TEST(Atoi, StopsAtTheViewsEnd) {
  const std::string text = "12345";
  EXPECT_EQ(atoiLike(std::string_view(text).substr(0, 2)), 12);
}

static_assert(atoiLike("  -17z") == -17, "usable at compile time");

}  // namespace
}  // namespace korvane::common
