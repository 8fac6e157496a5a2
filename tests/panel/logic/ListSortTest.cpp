#include <gtest/gtest.h>

#include <string>

#include "panel/logic/ListSort.h"

namespace korvane::panel {
namespace {

TEST(ListSort, ComparesNumbersByValueAndOtherTextsByBytes) {
  struct Row {
    const char* first;
    const char* second;
    int expected;
  };
  const Row rows[] = {
      // Port and hub-number columns: by value.
      {"9", "10", -1},
      {"0010", "0009", 1},
      {"-5", "3", -1},
      {"", "0", 0},  // an empty text is numeric and reads as 0
      {"", "7", -1},
      {"1-2", "1", 0},  // digits and minus signs only: read as a decimal conversion reads them
      // A letter in either text: bytes, so "9" sorts after "10".
      {"9", "10a", 1},
      {"Hub10", "Hub9", -1},
      {"abc", "abcd", -1},  // a prefix first
      {"abc", "abc", 0},
      {"\xC3\xA9", "z", 1},  // bytes compare unsigned: a UTF-8 letter after ASCII ones
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.first) + " <=> " + row.second);
    EXPECT_EQ(compareSortTexts(row.first, row.second), row.expected);
    EXPECT_EQ(compareSortTexts(row.second, row.first), -row.expected);
  }
}

TEST(ListSort, OrderTurnsTheComparisonAndOnlyTheFirstBytesCount) {
  EXPECT_EQ(compareRows("9", "10", -1), 1);
  // Texts that differ only after the fetched bytes compare equal.
  const std::string common(kSortTextBytes, 'x');
  EXPECT_EQ(compareRows(common + "a", common + "b", 1), 0);
  EXPECT_EQ(compareRows(common.substr(1) + "a", common.substr(1) + "b", 1), -1);
}

TEST(ListSort, SameColumnTurnsTheOrderAnotherStartsAscending) {
  // First click on a list without stored sort, the same column again, then another one.
  SortSetting sort = sortAfterClick(std::nullopt, 2);
  EXPECT_EQ(sort, (SortSetting{2, 1}));
  sort = sortAfterClick(sort, 2);
  EXPECT_EQ(sort, (SortSetting{2, -1}));
  sort = sortAfterClick(sort, 2);
  EXPECT_EQ(sort, (SortSetting{2, 1}));
  EXPECT_EQ(sortAfterClick(SortSetting{2, -1}, 0), (SortSetting{0, 1}));
  // A stored order of 0 is ascending, so the next click on its column descends.
  EXPECT_EQ(storedSort(1, 0), (SortSetting{1, 1}));
  EXPECT_EQ(sortAfterClick(storedSort(1, 0), 1), (SortSetting{1, -1}));
}

}  // namespace
}  // namespace korvane::panel
