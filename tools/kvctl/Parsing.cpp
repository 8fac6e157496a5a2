#include <algorithm>
#include <cctype>

#include "tools/kvctl/Command.h"
#include "tools/ToolOptions.h"

namespace korvane::tools {

int Context::refuse(const std::string& message) const {
  err << "kvctl: " << message << '\n';
  return kExitRefused;
}

std::optional<int> parseNumber(const std::string& text, int low, int high, const std::string& what,
                               std::string* err) {
  int value = 0;
  if (!parseIntInRange(text, low, high, &value)) {
    *err = what + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not '" + text + "'";
    return std::nullopt;
  }
  return value;
}

std::optional<bool> parseSwitch(const std::string& text, const std::string& what,
                                std::string* err) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "on" || lower == "1" || lower == "yes" || lower == "true") {
    return true;
  }
  if (lower == "off" || lower == "0" || lower == "no" || lower == "false") {
    return false;
  }
  *err = what + " must be on or off, not '" + text + "'";
  return std::nullopt;
}

std::optional<int> parseExistingHub(const common::ManagerConfig& config, const std::string& text,
                                    std::string* err) {
  const auto hub = parseNumber(text, 1, 9999, "hub number", err);
  if (!hub) {
    return std::nullopt;
  }
  // A file that cannot be read is said as such, not taken for one without the hub.
  const std::optional<common::ManagerConfigSnapshot> file = config.snapshot(err);
  if (!file) {
    return std::nullopt;
  }
  const auto hubs = file->listHubs();
  if (std::find(hubs.begin(), hubs.end(), *hub) == hubs.end()) {
    *err = "no hub " + std::to_string(*hub);
    return std::nullopt;
  }
  return hub;
}

}  // namespace korvane::tools
