#include "common/DhcpSettings.h"

#include <vector>

#include "common/Atoi.h"
#include "common/DhcpFiles.h"
#include "platform/ProfileFile.h"
#include "platform/ProfileSections.h"
#include "platform/WholeFile.h"

namespace korvane::common {
namespace {

using platform::profile::ProfileChange;

/// What a missing key reads as, so that absence can be told from a stored value.
constexpr std::string_view kMissing = "<NONE>";

}  // namespace

std::optional<DhcpDomainSettings> readDhcpSettings(const std::string& path,
                                                   std::string_view domainText, std::string* err) {
  std::string content;
  if (platform::readWholeFile(path, &content, err) == platform::ReadOutcome::kFailed) {
    return std::nullopt;
  }
  const platform::profile::ProfileSections file(content);
  const std::string section = dhcpSettingsSection(domainText);
  const auto read = [&](std::string_view key) {
    return file.readString(section, key, kMissing, kDhcpSettingBufferBytes);
  };
  const auto text = [&](std::string_view key) {
    std::string value = read(key);
    return value == kMissing ? std::string() : value;
  };
  DhcpDomainSettings settings;
  settings.serviceOn = read(kDhcpFlagKey) == kDhcpFlagOn;
  settings.lowerAddress = text(kDhcpLowerKey);
  settings.upperAddress = text(kDhcpUpperKey);
  settings.subnetMask = text(kDhcpMaskKey);
  if (const std::string lease = read(kDhcpLeaseTimeKey); lease != kMissing) {
    settings.leaseSeconds = atoiLike(lease);
  }
  const std::string key = read(kDhcpNetworkKeyKey);
  settings.keyStored = key != kMissing && key != kNoNetworkKeyText;
  return settings;
}

bool writeDhcpSettings(const std::string& path, std::string_view domainText,
                       const DhcpSettingsWrite& settings, std::string* err) {
  const std::string section = dhcpSettingsSection(domainText);
  std::vector<ProfileChange> changes = {
      ProfileChange::setValue(section, kDhcpFlagKey,
                              settings.serviceOn ? kDhcpFlagOn : kDhcpFlagOff),
      ProfileChange::setValue(section, kDhcpLowerKey, settings.lowerAddress),
      ProfileChange::setValue(section, kDhcpUpperKey, settings.upperAddress),
      ProfileChange::setValue(section, kDhcpMaskKey, settings.subnetMask),
  };
  if (settings.keyChange == NetworkKeyChange::kClear) {
    changes.push_back(ProfileChange::setValue(section, kDhcpNetworkKeyKey, kNoNetworkKeyText));
  } else if (settings.keyChange == NetworkKeyChange::kSet) {
    const std::optional<std::string> sealed = sealNetworkKey(settings.key);
    if (!sealed) {
      if (err != nullptr) {
        *err = "cannot seal the network key";
      }
      return false;
    }
    changes.push_back(ProfileChange::setValue(section, kDhcpNetworkKeyKey, *sealed));
  }
  const int lease = settings.leaseSeconds == 0 ? kDefaultDhcpLeaseSeconds : settings.leaseSeconds;
  changes.push_back(ProfileChange::setValue(section, kDhcpLeaseTimeKey, std::to_string(lease)));
  std::string writeError;
  if (!platform::profile::writeChanges(path, changes, &writeError)) {
    if (err != nullptr) {
      *err = "cannot write [" + section + "] to " + path + ": " + writeError;
    }
    return false;
  }
  return true;
}

}  // namespace korvane::common
