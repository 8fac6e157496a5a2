#include "panel/logic/TextFormat.h"

namespace korvane::panel {

std::string formatWithNumber(std::string_view format, int value) {
  std::string text;
  bool filled = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const std::string_view rest = format.substr(i);
    if (rest.starts_with("%%")) {
      text += '%';
      ++i;
    } else if (!filled && rest.starts_with("%d")) {
      text += std::to_string(value);
      filled = true;
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

std::string formatWithTexts(std::string_view format, std::span<const std::string> values) {
  std::string text;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        text += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 's') {
        text += next < values.size() ? values[next] : std::string();
        ++next;
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  return text;
}

}  // namespace korvane::panel
