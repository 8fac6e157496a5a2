#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

/// The sorting that every list window of the panel shares: a click on a column header sorts the
/// rows by that column's texts, a second click on the same column turns the order round, and the
/// column and order are kept per list so that the next fill of the list sorts the same way.
namespace korvane::panel {

/// A list's sort: the 0-based column and the order (+1 ascending, -1 descending).
struct SortSetting {
  int column = 0;
  int order = 1;

  bool operator==(const SortSetting&) const = default;
};

/// A cell's text takes part in the comparison up to this many bytes: the rows' texts are fetched
/// into buffers of 1024 bytes with their terminating zero.
inline constexpr std::size_t kSortTextBytes = 1023;

/// The sort as it is kept: a stored order of 0 (or any value but -1) reads as ascending.
SortSetting storedSort(int column, int order);

/// The sort after a click on `column`: the stored order turned round when `stored` is that
/// column, ascending otherwise (another column, or nothing stored).
SortSetting sortAfterClick(const std::optional<SortSetting>& stored, int column);

/// Compares two cell texts: numerically when both consist only of the digits 0-9 and '-' (an
/// empty text counts as numeric and reads as 0), byte by byte as unsigned characters otherwise,
/// a prefix before the longer text. Negative, 0 or positive as the first text sorts before,
/// with or after the second.
int compareSortTexts(std::string_view first, std::string_view second);

/// compareSortTexts of the texts cut to kSortTextBytes, multiplied by `order`.
int compareRows(std::string_view first, std::string_view second, int order);

}  // namespace korvane::panel
