#pragma once

#include <span>
#include <string>
#include <string_view>

namespace korvane::panel {

/// A string of the resource library used as a format with one number: the first "%d" becomes
/// `value` and "%%" a '%'. Any other '%' stays as it is, so a pack's text can never make the
/// panel read an argument it was not given.
std::string formatWithNumber(std::string_view format, int value);

/// A string of the resource library used as a format with texts: each "%s" in turn becomes the
/// next of `values` (nothing once they run out) and "%%" a '%'; any other '%' stays as it is.
std::string formatWithTexts(std::string_view format, std::span<const std::string> values);

}  // namespace korvane::panel
