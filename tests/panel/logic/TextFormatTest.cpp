#include <gtest/gtest.h>

#include "panel/logic/TextFormat.h"

namespace korvane::panel {
namespace {

TEST(TextFormat, FillsTheFirstNumberOnly) {
  struct Row {
    const char* format;
    const char* expected;
  };
  const Row rows[] = {
      {"You cannot create more than %d hubs.", "You cannot create more than 32 hubs."},
      {"%d%% done, %d left", "32% done, %d left"},
      {"%s and %x stay", "%s and %x stay"},  // a pack's other conversions are never read
      {"ends in %", "ends in %"},
      {"", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.format);
    EXPECT_EQ(formatWithNumber(row.format, 32), row.expected);
  }
}

TEST(TextFormat, FillsEachTextInTurn) {
  const std::string values[] = {"3,000", "300"};
  EXPECT_EQ(formatWithTexts("Year %s yen, month %s yen (100%%)", values),
            "Year 3,000 yen, month 300 yen (100%)");
  EXPECT_EQ(formatWithTexts(".%s", std::span(values, 1)), ".3,000");
  EXPECT_EQ(formatWithTexts("%s %s %s", std::span(values, 1)), "3,000  ");
  EXPECT_EQ(formatWithTexts("line %d of \"%s\"", std::span(values, 1)), "line %d of \"3,000\"");
}

}  // namespace
}  // namespace korvane::panel
