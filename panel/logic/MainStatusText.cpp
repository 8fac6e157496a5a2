#include "panel/logic/MainStatusText.h"

namespace korvane::panel {

std::string hubCountText(std::string_view label, int count) {
  return std::string(label) + " : " + std::to_string(count);
}

std::string withDnsUpdate(std::string_view current, std::string_view dnsLog) {
  if (current.empty()) {
    return {};
  }
  std::string text(current.substr(0, current.find(kDnsUpdateSeparator)));
  if (!dnsLog.empty()) {
    text += kDnsUpdateSeparator;
    text += dnsLog;
  }
  return text;
}

}  // namespace korvane::panel
