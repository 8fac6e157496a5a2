#include "common/ManagerConfig.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/Atoi.h"
#include "common/HubSettings.h"
#include "common/ManagerPipeClient.h"
#include "platform/ProfileFile.h"

namespace korvane::common {
namespace {

/// The hub names its lease files with at most this many bytes of the domain text.
constexpr std::size_t kLeaseDomainTextMax = 127;

bool fail(std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
  return false;
}

/// `value` when it lies in `low`..`high`, else `fallback`.
int inRangeOr(int value, int low, int high, int fallback) {
  return value >= low && value <= high ? value : fallback;
}

/// A line break would end the line early and let the rest be read as further keys or sections;
/// a zero byte would end the value early for every reader.
bool breaksLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool checkHubNumber(int hubNumber, std::string* err) {
  if (hubNumber >= kMinHubNumber && hubNumber <= kMaxHubNumber) {
    return true;
  }
  return fail(err, "hub number " + std::to_string(hubNumber) + " is outside " +
                       std::to_string(kMinHubNumber) + ".." + std::to_string(kMaxHubNumber));
}

bool checkRange(std::string_view what, int value, int low, int high, std::string* err) {
  if (value >= low && value <= high) {
    return true;
  }
  return fail(err, std::string(what) + " " + std::to_string(value) + " is outside " +
                       std::to_string(low) + ".." + std::to_string(high));
}

/// Writes one key after making sure that it and its value read back as written.
bool writeEntry(const std::string& path, std::string_view section, std::string_view key,
                std::string_view value, std::string* err) {
  if (breaksLine(key) || key.find('=') != std::string_view::npos) {
    return fail(err, "the key name \"" + std::string(key) + "\" holds a line break or '='");
  }
  if (breaksLine(value)) {
    return fail(err, "the value of " + std::string(key) + " holds a line break or a zero byte");
  }
  std::string writeError;
  if (!platform::profile::writeString(path, section, key, value, &writeError)) {
    return fail(err, "cannot write [" + std::string(section) + "] " + std::string(key) + " to " +
                         path + ": " + writeError);
  }
  return true;
}

/// Deletes a file; one that is not there counts as deleted.
bool removeFile(const std::string& path, std::string* err) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (ec) {
    return fail(err, "cannot delete " + path + ": " + ec.message());
  }
  return true;
}

/// The lowest positive number that `used` does not hold.
int lowestFreeNumber(std::vector<int> used) {
  std::sort(used.begin(), used.end());
  int candidate = kMinHubNumber;
  for (const int number : used) {
    if (number == candidate) {
      ++candidate;
    } else if (number > candidate) {
      break;
    }
  }
  return candidate;
}

/// Asks the running manager to reload after `change` was written. No manager running is no
/// failure: it reads the whole file when it next starts. A manager that does not confirm is one:
/// the change stays written, but the running hubs do not follow it until the next reload.
[[nodiscard]] bool askManagerToReload(const std::string& change, std::string* err) {
  std::string why;
  if (requestManagerReload(&why) != ReloadResult::kNotConfirmed) {
    return true;
  }
  return fail(err, change + ", but the manager did not confirm the reload: " + why);
}

}  // namespace

ManagerConfig::ManagerConfig(std::string path, const platform::Clock& clock)
    : path_(std::move(path)), clock_(clock) {
  const std::size_t slash = path_.rfind('/');
  iniFolder_ = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
}

std::vector<int> ManagerConfig::listHubs(std::size_t capacity) const {
  return listHubNumbers(path_, capacity);
}

std::string ManagerConfig::readName(int hubNumber) const {
  return readValue(hubNumber, kHubNameKey, "", kHubNameBufferSize);
}

std::optional<bool> ManagerConfig::readStatus(int hubNumber) const {
  const std::string status = readValue(hubNumber, kStatusKey, "", kValueBufferSize);
  if (status == kStatusOn) {
    return true;
  }
  if (status == kStatusOff) {
    return false;
  }
  return std::nullopt;
}

int ManagerConfig::readPort(int hubNumber) const {
  return readNumber(hubNumber, kPortNoKey, "0");
}

int ManagerConfig::readAuthFlag(int hubNumber) const {
  return readNumber(hubNumber, kAuthFlagKey, "0");
}

int ManagerConfig::readMaxConnections(int hubNumber) const {
  return inRangeOr(readNumber(hubNumber, kMaxConKey, "512"), 1, kMaxConnectionsLimit,
                   kMaxConnectionsLimit);
}

int ManagerConfig::readSnatPort(int hubNumber) const {
  return inRangeOr(readNumber(hubNumber, kSnatPortKey, "0"), 1, kMaxPortNumber, 0);
}

LogRetention ManagerConfig::readLogRetention(int hubNumber) const {
  LogRetention retention;
  retention.months =
      inRangeOr(readNumber(hubNumber, kGarbageMonthsKey, "1"), 0, kPanelMaxGarbageMonths, 0);
  retention.days =
      inRangeOr(readNumber(hubNumber, kGarbageDaysKey, "0"), 0, kPanelMaxGarbageDays, 0);
  return retention;
}

int ManagerConfig::readDhcpBlock(int hubNumber, std::string_view domain) const {
  return readNumber(hubNumber, blockDhcpKey(domain), "0");
}

char ManagerConfig::readDomainSplitter() const {
  return splitterFromValue(platform::profile::readString(path_, kSystemSection, kDomainSplitterKey,
                                                         kNoneText, kValueBufferSize));
}

bool ManagerConfig::readFirewallSetting() const {
  return platform::profile::readString(path_, kFirewallSection, kAutoSettingKey, "on",
                                       kValueBufferSize) == "on";
}

std::string ManagerConfig::readPassCode() const {
  return platform::profile::readString(path_, kSystemSection, kPassCodeKey, "", kValueBufferSize);
}

bool ManagerConfig::writeName(int hubNumber, std::string_view name, std::string* err) {
  return writeValue(hubNumber, kHubNameKey, name, err);
}

bool ManagerConfig::writePort(int hubNumber, int port, std::string* err) {
  return checkRange("port", port, 0, kMaxPortNumber, err) &&
         writeNumber(hubNumber, kPortNoKey, port, err);
}

bool ManagerConfig::writeAuthFlag(int hubNumber, int flag, std::string* err) {
  return checkRange("authentication flag", flag, 0, 1, err) &&
         writeNumber(hubNumber, kAuthFlagKey, flag, err);
}

bool ManagerConfig::writeMaxConnections(int hubNumber, int maxConnections, std::string* err) {
  return checkRange("maximum connections", maxConnections, 1, kMaxConnectionsLimit, err) &&
         writeNumber(hubNumber, kMaxConKey, maxConnections, err);
}

bool ManagerConfig::writeSnatPort(int hubNumber, int port, std::string* err) {
  return checkRange("SNAT port", port, 0, kMaxPortNumber, err) &&
         writeNumber(hubNumber, kSnatPortKey, port, err);
}

bool ManagerConfig::writeLogRetention(int hubNumber, int months, int days, std::string* err) {
  return checkRange("log retention in months", months, 0, kPanelMaxGarbageMonths, err) &&
         checkRange("log retention in days", days, 0, kPanelMaxGarbageDays, err) &&
         writeNumber(hubNumber, kGarbageMonthsKey, months, err) &&
         writeNumber(hubNumber, kGarbageDaysKey, days, err);
}

bool ManagerConfig::writeDhcpBlock(int hubNumber, std::string_view domain, int value,
                                   std::string* err) {
  return checkRange("DHCP block flag", value, 0, 1, err) &&
         writeNumber(hubNumber, blockDhcpKey(domain), value, err);
}

bool ManagerConfig::writeDomainSplitter(char splitter, std::string* err) {
  if (splitter == kNoSplitter) {
    return writeEntry(path_, kSystemSection, kDomainSplitterKey, kNoneText, err);
  }
  // Blanks around a value are trimmed on read, and the other characters end the value early.
  if (splitter == '\0' || splitter == ' ' || (splitter >= '\t' && splitter <= '\f')) {
    return fail(err, "character " + std::to_string(static_cast<unsigned char>(splitter)) +
                         " cannot be the domain splitter");
  }
  return writeEntry(path_, kSystemSection, kDomainSplitterKey, std::string(1, splitter), err);
}

bool ManagerConfig::writeFirewallSetting(bool on, std::string* err) {
  return writeEntry(path_, kFirewallSection, kAutoSettingKey, on ? "on" : "off", err);
}

bool ManagerConfig::writePassCode(std::string_view passCode, std::string* err) {
  return writeEntry(path_, kSystemSection, kPassCodeKey, passCode, err);
}

bool ManagerConfig::nameIsFree(int hubNumber, std::string_view name) const {
  for (const int other : listHubs()) {
    if (other != hubNumber && readName(other) == name) {
      return false;
    }
  }
  return true;
}

bool ManagerConfig::portIsFree(int hubNumber, int port) const {
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

int ManagerConfig::createHub(std::string_view name, std::string* err) {
  const std::vector<int> hubs = listHubs();
  if (hubs.size() > kMaxHubsBeforeCreate) {
    fail(err, "no hub can be created: " + path_ + " already lists " + std::to_string(hubs.size()) +
                  " hubs");
    return 0;
  }
  const int number = lowestFreeNumber(hubs);
  assert(number <= kMaxHubNumber && "a file of at most 32 hubs leaves a four-digit number free");
  const std::string section = hubSectionName(number);
  const std::pair<std::string_view, std::string_view> entries[] = {
      {kHubNameKey, name}, {kStatusKey, kStatusOff}, {kPortNoKey, "0"}, {kAuthFlagKey, "0"}};
  for (const auto& [key, value] : entries) {
    if (!writeEntry(path_, section, key, value, err)) {
      // Leave no half-made hub behind: the section did not exist before.
      std::string ignored;
      (void)platform::profile::deleteSection(path_, section, &ignored);
      return 0;
    }
  }
  if (!askManagerToReload("hub " + section + " was created in " + path_, err)) {
    return 0;
  }
  return number;
}

bool ManagerConfig::deleteHub(int hubNumber, std::string* err) {
  const std::vector<int> hubs = listHubs();
  if (std::find(hubs.begin(), hubs.end(), hubNumber) == hubs.end()) {
    return fail(err, "hub " + hubSectionName(hubNumber) + " does not exist in " + path_);
  }
  std::string deleteError;
  if (!platform::profile::deleteSection(path_, hubSectionName(hubNumber), &deleteError)) {
    return fail(err, "cannot remove hub " + hubSectionName(hubNumber) + " from " + path_ + ": " +
                         deleteError);
  }
  std::string dhcpError;
  std::string hostsError;
  const bool dhcpRemoved = removeFile(hubFilePath(hubNumber, "_dhcp.ini"), &dhcpError);
  const bool hostsRemoved = removeFile(hubFilePath(hubNumber, "_hosts.ini"), &hostsError);
  std::string reloadError;
  const bool reloaded = askManagerToReload(
      "hub " + hubSectionName(hubNumber) + " was removed from " + path_, &reloadError);
  if (!dhcpRemoved) {
    return fail(err, dhcpError);
  }
  if (!hostsRemoved) {
    return fail(err, hostsError);
  }
  return reloaded || fail(err, reloadError);
}

bool ManagerConfig::startHub(int hubNumber, std::string* err) {
  return switchHub(hubNumber, true, err);
}

bool ManagerConfig::stopHub(int hubNumber, std::string* err) {
  return switchHub(hubNumber, false, err);
}

bool ManagerConfig::deleteLeases(int hubNumber, std::string_view domain, std::string* err) {
  if (!checkHubNumber(hubNumber, err)) {
    return false;
  }
  if (domain.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return fail(err,
                "the domain name \"" + std::string(domain) + "\" cannot be part of a file name");
  }
  const std::string_view text =
      domain == kGlobalDomainName ? std::string_view() : domain.substr(0, kLeaseDomainTextMax);
  return removeFile(hubFilePath(hubNumber, "_" + std::string(text) + "_dhcp.leases"), err);
}

std::string ManagerConfig::readValue(int hubNumber, std::string_view key,
                                     std::string_view defaultValue, std::size_t bufferSize) const {
  return platform::profile::readString(path_, hubSectionName(hubNumber), key, defaultValue,
                                       bufferSize);
}

int ManagerConfig::readNumber(int hubNumber, std::string_view key,
                              std::string_view defaultValue) const {
  return atoiLike(readValue(hubNumber, key, defaultValue, kValueBufferSize));
}

bool ManagerConfig::writeValue(int hubNumber, std::string_view key, std::string_view value,
                               std::string* err) {
  return checkHubNumber(hubNumber, err) &&
         writeEntry(path_, hubSectionName(hubNumber), key, value, err);
}

bool ManagerConfig::writeNumber(int hubNumber, std::string_view key, int value, std::string* err) {
  return writeValue(hubNumber, key, std::to_string(value), err);
}

bool ManagerConfig::switchHub(int hubNumber, bool on, std::string* err) {
  if (!checkHubNumber(hubNumber, err)) {
    return false;
  }
  const std::optional<bool> status = readStatus(hubNumber);
  if (!status) {
    return fail(err, "the Status of hub " + hubSectionName(hubNumber) + " in " + path_ +
                         " is neither ON nor OFF");
  }
  if (*status == on) {
    return true;
  }
  if (!writeValue(hubNumber, kStatusKey, on ? kStatusOn : kStatusOff, err)) {
    return false;
  }
  if (!askManagerToReload("hub " + hubSectionName(hubNumber) + " was switched " +
                              (on ? "on" : "off") + " in " + path_,
                          err)) {
    return false;
  }
  if (!on) {
    clock_.sleepFor(kStopSettleTime);
  }
  return true;
}

std::string ManagerConfig::hubFilePath(int hubNumber, std::string_view suffix) const {
  return iniFolder_ + hubSectionName(hubNumber) + std::string(suffix);
}

}  // namespace korvane::common
