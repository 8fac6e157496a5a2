#include "common/ManagerConfigSnapshot.h"

#include "common/Atoi.h"
#include "common/HubSettings.h"
#include "platform/WholeFile.h"

namespace korvane::common {
namespace {

/// `value` when it lies in `low`..`high`, else `fallback`.
int inRangeOr(int value, int low, int high, int fallback) {
  return value >= low && value <= high ? value : fallback;
}

}  // namespace

std::optional<ManagerConfigSnapshot> ManagerConfigSnapshot::read(const std::string& path,
                                                                 std::string* err) {
  std::string text;
  std::string readError;
  if (platform::readWholeFile(path, &text, &readError) == platform::ReadOutcome::kFailed) {
    if (err != nullptr) {
      *err = "cannot read " + path + ": " + readError;
    }
    return std::nullopt;
  }
  return ManagerConfigSnapshot(text);
}

std::vector<int> ManagerConfigSnapshot::listHubs(std::size_t capacity) const {
  std::vector<int> hubs;
  for (const std::string& section : sections_.names(kSectionListBufferSize)) {
    if (hubs.size() >= capacity) {
      break;
    }
    if (const int number = hubNumberOfSection(section); number > 0) {
      hubs.push_back(number);
    }
  }
  return hubs;
}

std::string ManagerConfigSnapshot::readName(int hubNumber) const {
  return readValue(hubNumber, kHubNameKey, "", kHubNameBufferSize);
}

std::optional<bool> ManagerConfigSnapshot::readStatus(int hubNumber) const {
  const std::string status = readValue(hubNumber, kStatusKey, "", kValueBufferSize);
  if (status == kStatusOn) {
    return true;
  }
  if (status == kStatusOff) {
    return false;
  }
  return std::nullopt;
}

int ManagerConfigSnapshot::readPort(int hubNumber) const {
  return readNumber(hubNumber, kPortNoKey, "0");
}

int ManagerConfigSnapshot::readAuthFlag(int hubNumber) const {
  return readNumber(hubNumber, kAuthFlagKey, "0");
}

int ManagerConfigSnapshot::readMaxConnections(int hubNumber) const {
  return inRangeOr(readNumber(hubNumber, kMaxConKey, "512"), 1, kMaxConnectionsLimit,
                   kMaxConnectionsLimit);
}

int ManagerConfigSnapshot::readSnatPort(int hubNumber) const {
  return inRangeOr(readNumber(hubNumber, kSnatPortKey, "0"), 1, kMaxPortNumber, 0);
}

LogRetention ManagerConfigSnapshot::readLogRetention(int hubNumber) const {
  LogRetention retention;
  retention.months =
      inRangeOr(readNumber(hubNumber, kGarbageMonthsKey, "1"), 0, kPanelMaxGarbageMonths, 0);
  retention.days =
      inRangeOr(readNumber(hubNumber, kGarbageDaysKey, "0"), 0, kPanelMaxGarbageDays, 0);
  return retention;
}

int ManagerConfigSnapshot::readDhcpBlock(int hubNumber, std::string_view domain) const {
  return readNumber(hubNumber, blockDhcpKey(domain), "0");
}

char ManagerConfigSnapshot::readDomainSplitter() const {
  return splitterFromValue(
      sections_.readString(kSystemSection, kDomainSplitterKey, kNoneText, kValueBufferSize));
}

bool ManagerConfigSnapshot::readFirewallSetting() const {
  return sections_.readString(kFirewallSection, kAutoSettingKey, "on", kValueBufferSize) == "on";
}

std::string ManagerConfigSnapshot::readPassCode() const {
  return sections_.readString(kSystemSection, kPassCodeKey, "", kValueBufferSize);
}

bool ManagerConfigSnapshot::nameIsFree(int hubNumber, std::string_view name) const {
  for (const int other : listHubs()) {
    if (other != hubNumber && readName(other) == name) {
      return false;
    }
  }
  return true;
}

bool ManagerConfigSnapshot::portIsFree(int hubNumber, int port) const {
  if (port == 0) {
    return true;
  }
  for (const int other : listHubs()) {
    if (other != hubNumber && readPort(other) == port) {
      return false;
    }
  }
  return true;
}

std::string ManagerConfigSnapshot::readValue(int hubNumber, std::string_view key,
                                             std::string_view defaultValue,
                                             std::size_t bufferSize) const {
  return sections_.readString(hubSectionName(hubNumber), key, defaultValue, bufferSize);
}

int ManagerConfigSnapshot::readNumber(int hubNumber, std::string_view key,
                                      std::string_view defaultValue) const {
  return atoiLike(readValue(hubNumber, key, defaultValue, kValueBufferSize));
}

}  // namespace korvane::common
