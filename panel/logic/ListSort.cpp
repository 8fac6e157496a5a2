#include "panel/logic/ListSort.h"

#include <algorithm>
#include <climits>

#include "common/Atoi.h"

namespace korvane::panel {
namespace {

bool isNumericText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

int sign(std::int64_t value) {
  return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

}  // namespace

SortSetting storedSort(int column, int order) {
  return SortSetting{column, order == -1 ? -1 : 1};
}

SortSetting sortAfterClick(const std::optional<SortSetting>& stored, int column) {
  if (stored && stored->column == column) {
    return SortSetting{column, -stored->order};
  }
  return SortSetting{column, 1};
}

int compareSortTexts(std::string_view first, std::string_view second) {
  if (isNumericText(first) && isNumericText(second)) {
    // Texts such as "1-2" read as their leading number, as a decimal conversion reads them.
    const std::int64_t a = common::leadingDecimal(first, INT_MIN, INT_MAX);
    const std::int64_t b = common::leadingDecimal(second, INT_MIN, INT_MAX);
    return sign(a - b);
  }
  const std::size_t common = std::min(first.size(), second.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(first[i]);
    const auto b = static_cast<unsigned char>(second[i]);
    if (a != b) {
      return a < b ? -1 : 1;
    }
  }
  return sign(static_cast<std::int64_t>(first.size()) - static_cast<std::int64_t>(second.size()));
}

int compareRows(std::string_view first, std::string_view second, int order) {
  return compareSortTexts(first.substr(0, kSortTextBytes), second.substr(0, kSortTextBytes)) *
         order;
}

}  // namespace korvane::panel
