#pragma once

#include <string>
#include <string_view>

namespace korvane::tools {

/// `text` as a JSON string literal, quotes included; bytes that are not valid UTF-8 are written
/// as U+FFFD so that the output always parses.
std::string jsonString(std::string_view text);

}  // namespace korvane::tools
