#include "common/HubSettings.h"

#include "common/Atoi.h"
#include "common/ManagerConfigFormat.h"
#include "platform/ProfileFile.h"

namespace korvane::common {
namespace {

int readNumber(const std::string& path, const std::string& section, std::string_view key,
               std::string_view defaultValue) {
  return atoiLike(
      platform::profile::readString(path, section, key, defaultValue, kHubValueBufferSize));
}

/// `value` when it lies in `low`..`high`, else `fallback`.
int inRangeOr(int value, int low, int high, int fallback) {
  return value >= low && value <= high ? value : fallback;
}

}  // namespace

HubSettings readHubSettings(const std::string& path, int hubNumber) {
  const std::string section = hubSectionName(hubNumber);
  HubSettings settings;
  // A port beyond 16 bits keeps only its low 16 bits, as a 16-bit field would hold it.
  settings.portNo = static_cast<std::uint16_t>(readNumber(path, section, kPortNoKey, "0"));
  settings.authFlag = readNumber(path, section, kAuthFlagKey, "0");
  settings.maxCon = inRangeOr(readNumber(path, section, kMaxConKey, "512"), 1, kMaxConnectionsLimit,
                              kMaxConnectionsLimit);
  settings.snatPort = inRangeOr(readNumber(path, section, kSnatPortKey, "0"), 1, kMaxPortNumber, 0);
  settings.garbageMonths =
      inRangeOr(readNumber(path, section, kGarbageMonthsKey, "0"), 0, kHubMaxGarbageMonths, 0);
  settings.garbageDays =
      inRangeOr(readNumber(path, section, kGarbageDaysKey, "0"), 0, kHubMaxGarbageDays, 0);
  settings.splitter = splitterFromValue(platform::profile::readString(
      path, kSystemSection, kDomainSplitterKey, kNoneText, kHubValueBufferSize));
  return settings;
}

}  // namespace korvane::common
