#include "hub/HubLog.h"

#include <cstdio>

namespace korvane::hub {
namespace {

/// Room for the hub number as "%04d", whatever the number.
constexpr std::size_t kPrefixCapacity = 16;

std::string hubPrefix(int hubNumber) {
  char prefix[kPrefixCapacity];
  std::snprintf(prefix, sizeof prefix, "%04d", hubNumber);
  return prefix;
}

/// The folder with a '/' at its end, so that the rotating log's base path lies inside it.
std::string asFolder(std::string directory) {
  if (!directory.empty() && directory.back() != '/') {
    directory.push_back('/');
  }
  return directory;
}

}  // namespace

HubLog::HubLog(const std::string& logDirectory, int hubNumber, const platform::Clock& clock)
    : rotating_(asFolder(logDirectory) + hubPrefix(hubNumber), clock),
      daily_(logDirectory, hubPrefix(hubNumber), clock) {}

void HubLog::startUp(int garbageMonths, int garbageDays) {
  daily_.setEnabled(true);
  daily_.setRetention(garbageMonths, garbageDays);
  daily_.collectGarbage();
}

void HubLog::write(std::string_view text) {
  rotating_.writeLine(text);
  daily_.writeLine(text);
}

void HubLog::close() {
  rotating_.close();
  daily_.close();
}

}  // namespace korvane::hub
