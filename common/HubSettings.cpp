#include "common/HubSettings.h"

#include "common/Atoi.h"
#include "common/ManagerConfigSnapshot.h"

namespace korvane::common {
namespace {

int readNumber(const platform::profile::ProfileSections& file, const std::string& section,
               std::string_view key, std::string_view defaultValue) {
  return atoiLike(file.readString(section, key, defaultValue, kHubValueBufferSize));
}

/// `value` when it lies in `low`..`high`, else `fallback`.
int inRangeOr(int value, int low, int high, int fallback) {
  return value >= low && value <= high ? value : fallback;
}

}  // namespace

std::optional<HubSettings> readHubSettings(const std::string& path, int hubNumber,
                                           std::string* err) {
  const std::optional<ManagerConfigSnapshot> file = ManagerConfigSnapshot::read(path, err);
  if (!file) {
    return std::nullopt;
  }
  return hubSettingsFrom(file->sections(), hubNumber);
}

HubSettings hubSettingsFrom(const platform::profile::ProfileSections& file, int hubNumber) {
  const std::string section = hubSectionName(hubNumber);
  HubSettings settings;
  // A port beyond 16 bits keeps only its low 16 bits, as a 16-bit field would hold it.
  settings.portNo = static_cast<std::uint16_t>(readNumber(file, section, kPortNoKey, "0"));
  settings.authFlag =
      readNumber(file, section, kAuthFlagKey, "0") == 1 ? AuthFlag::kOn : AuthFlag::kOff;
  settings.maxCon = inRangeOr(readNumber(file, section, kMaxConKey, "512"), 1, kMaxConnectionsLimit,
                              kMaxConnectionsLimit);
  settings.snatPort = inRangeOr(readNumber(file, section, kSnatPortKey, "0"), 1, kMaxPortNumber, 0);
  settings.garbageMonths =
      inRangeOr(readNumber(file, section, kGarbageMonthsKey, "0"), 0, kHubMaxGarbageMonths, 0);
  settings.garbageDays =
      inRangeOr(readNumber(file, section, kGarbageDaysKey, "0"), 0, kHubMaxGarbageDays, 0);
  settings.splitter = splitterFromValue(
      file.readString(kSystemSection, kDomainSplitterKey, kNoneText, kHubValueBufferSize));
  return settings;
}

}  // namespace korvane::common
