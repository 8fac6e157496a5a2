#pragma once

#include <string>
#include <string_view>

/// The main window's status bar: the hub count, followed by the last result of the dynamic DNS
/// update when there is one.
namespace korvane::panel {

/// Where the DNS update's result starts in the status bar text.
inline constexpr std::string_view kDnsUpdateSeparator = ", DNSUpdate : ";

/// "<label> : <count>", the text after the hub list was filled.
std::string hubCountText(std::string_view label, int count);

/// The status bar text with the DNS update's part replaced: `current` cut at
/// kDnsUpdateSeparator, then the separator and `dnsLog` appended when the log is not empty.
/// An empty `current` stays empty (the list is being filled).
std::string withDnsUpdate(std::string_view current, std::string_view dnsLog);

}  // namespace korvane::panel
