#include "common/ManagerConfig.h"

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <system_error>
#include <utility>

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

/// Why `key` = `value` would not read back as written; empty when it would.
std::string entryProblem(std::string_view key, std::string_view value) {
  if (breaksLine(key) || key.find('=') != std::string_view::npos) {
    return "the key name \"" + std::string(key) + "\" holds a line break or '='";
  }
  if (breaksLine(value)) {
    return "the value of " + std::string(key) + " holds a line break or a zero byte";
  }
  return {};
}

/// Writes several keys of one section in one replacement, after making sure that every key and
/// value reads back as written.
bool writeEntries(const std::string& path, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& entries,
                  std::string* err) {
  std::vector<platform::profile::ProfileChange> changes;
  for (const auto& [key, value] : entries) {
    if (std::string problem = entryProblem(key, value); !problem.empty()) {
      return fail(err, std::move(problem));
    }
    changes.push_back(platform::profile::ProfileChange::setValue(section, key, value));
  }
  std::string writeError;
  if (!platform::profile::writeChanges(path, changes, &writeError)) {
    return fail(err, "cannot write [" + std::string(section) + "] to " + path + ": " + writeError);
  }
  return true;
}

/// Writes one key after making sure that it and its value read back as written.
bool writeEntry(const std::string& path, std::string_view section, std::string_view key,
                std::string_view value, std::string* err) {
  if (std::string problem = entryProblem(key, value); !problem.empty()) {
    return fail(err, std::move(problem));
  }
  std::string writeError;
  if (!platform::profile::writeString(path, section, key, value, &writeError)) {
    return fail(err, "cannot write [" + std::string(section) + "] " + std::string(key) + " to " +
                         path + ": " + writeError);
  }
  return true;
}

/// A hub's lease files are "%04d_DOMAIN_dhcp.leases", the global domain's DOMAIN being empty.
bool isLeaseFileOf(std::string_view fileName, std::string_view hubSection) {
  constexpr std::string_view kLeaseSuffix = "_dhcp.leases";
  return fileName.size() >= hubSection.size() + 1 + kLeaseSuffix.size() &&
         fileName.starts_with(hubSection) && fileName[hubSection.size()] == '_' &&
         fileName.ends_with(kLeaseSuffix);
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

std::optional<ManagerConfigSnapshot> ManagerConfig::snapshot(std::string* err) const {
  std::string readError;
  std::optional<ManagerConfigSnapshot> read = ManagerConfigSnapshot::read(path_, &readError);
  if (!read) {
    fail(err, std::move(readError));
  }
  return read;
}

// A single-key reader takes what it can: an unreadable file reads as a missing one.
ManagerConfigSnapshot ManagerConfig::current() const {
  std::string ignored;
  std::optional<ManagerConfigSnapshot> read = ManagerConfigSnapshot::read(path_, &ignored);
  return read ? std::move(*read) : ManagerConfigSnapshot("");
}

std::vector<int> ManagerConfig::listHubs(std::size_t capacity) const {
  return current().listHubs(capacity);
}

std::string ManagerConfig::readName(int hubNumber) const {
  return current().readName(hubNumber);
}

std::optional<bool> ManagerConfig::readStatus(int hubNumber) const {
  return current().readStatus(hubNumber);
}

int ManagerConfig::readPort(int hubNumber) const {
  return current().readPort(hubNumber);
}

int ManagerConfig::readAuthFlag(int hubNumber) const {
  return current().readAuthFlag(hubNumber);
}

int ManagerConfig::readMaxConnections(int hubNumber) const {
  return current().readMaxConnections(hubNumber);
}

int ManagerConfig::readSnatPort(int hubNumber) const {
  return current().readSnatPort(hubNumber);
}

LogRetention ManagerConfig::readLogRetention(int hubNumber) const {
  return current().readLogRetention(hubNumber);
}

int ManagerConfig::readDhcpBlock(int hubNumber, std::string_view domain) const {
  return current().readDhcpBlock(hubNumber, domain);
}

char ManagerConfig::readDomainSplitter() const {
  return current().readDomainSplitter();
}

bool ManagerConfig::readFirewallSetting() const {
  return current().readFirewallSetting();
}

std::string ManagerConfig::readPassCode() const {
  return current().readPassCode();
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
  HubSettingsChange change;
  change.garbageMonths = months;
  change.garbageDays = days;
  return writeHubSettings(hubNumber, change, err);
}

bool ManagerConfig::writeHubSettings(int hubNumber, const HubSettingsChange& change,
                                     std::string* err) {
  if (!checkHubNumber(hubNumber, err)) {
    return false;
  }
  // In the order of the hub section, so a section written anew reads as the panel writes it.
  std::vector<std::pair<std::string, std::string>> entries;
  const auto number = [&](std::string_view key, const std::optional<int>& value,
                          std::string_view what, int low, int high) {
    if (!value) {
      return true;
    }
    entries.emplace_back(key, std::to_string(*value));
    return checkRange(what, *value, low, high, err);
  };
  if (change.name) {
    entries.emplace_back(kHubNameKey, *change.name);
  }
  return number(kPortNoKey, change.port, "port", 0, kMaxPortNumber) &&
         number(kAuthFlagKey, change.authFlag, "authentication flag", 0, 1) &&
         number(kMaxConKey, change.maxConnections, "maximum connections", 1,
                kMaxConnectionsLimit) &&
         number(kSnatPortKey, change.snatPort, "SNAT port", 0, kMaxPortNumber) &&
         number(kGarbageMonthsKey, change.garbageMonths, "log retention in months", 0,
                kPanelMaxGarbageMonths) &&
         number(kGarbageDaysKey, change.garbageDays, "log retention in days", 0,
                kPanelMaxGarbageDays) &&
         writeEntries(path_, hubSectionName(hubNumber), entries, err);
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
  return current().nameIsFree(hubNumber, name);
}

bool ManagerConfig::portIsFree(int hubNumber, int port) const {
  return current().portIsFree(hubNumber, port);
}

int ManagerConfig::createHub(std::string_view name, std::string* err) {
  if (breaksLine(name)) {
    fail(err, "the value of " + std::string(kHubNameKey) + " holds a line break or a zero byte");
    return 0;
  }
  int number = 0;
  std::string editError;
  // The number is chosen from the file as it is under the lock, so two creators never pick the
  // same one, and the whole section is one replacement.
  const bool created = platform::profile::editFile(
      path_,
      [&](platform::profile::ProfileText& profile, std::string* refusal) {
        const std::vector<int> hubs = ManagerConfigSnapshot(profile.text()).listHubs();
        if (hubs.size() > kMaxHubsBeforeCreate) {
          *refusal = "no hub can be created: " + path_ + " already lists " +
                     std::to_string(hubs.size()) + " hubs";
          return false;
        }
        number = lowestFreeNumber(hubs);
        assert(number <= kMaxHubNumber &&
               "a file of at most 32 hubs leaves a four-digit number free");
        const std::string section = hubSectionName(number);
        return profile.apply(
            {platform::profile::ProfileChange::setValue(section, kHubNameKey, name),
             platform::profile::ProfileChange::setValue(section, kStatusKey, kStatusOff),
             platform::profile::ProfileChange::setValue(section, kPortNoKey, "0"),
             platform::profile::ProfileChange::setValue(section, kAuthFlagKey, "0")},
            refusal);
      },
      &editError);
  if (!created) {
    fail(err, editError.starts_with("no hub can be created")
                  ? editError
                  : "cannot create a hub in " + path_ + ": " + editError);
    return 0;
  }
  if (!askManagerToReload("hub " + hubSectionName(number) + " was created in " + path_, err)) {
    return 0;
  }
  return number;
}

bool ManagerConfig::deleteHub(int hubNumber, std::string* err) {
  const std::string section = hubSectionName(hubNumber);
  std::string editError;
  // Listed and switched off are decided from the file as it is under the lock.
  const bool removed = platform::profile::editFile(
      path_,
      [&](platform::profile::ProfileText& profile, std::string* refusal) {
        const ManagerConfigSnapshot hubs(profile.text());
        const std::vector<int> listed = hubs.listHubs();
        if (std::find(listed.begin(), listed.end(), hubNumber) == listed.end()) {
          *refusal = "hub " + section + " does not exist in " + path_;
          return false;
        }
        if (hubs.readStatus(hubNumber).value_or(false)) {
          *refusal = "hub " + section + " is switched on; stop it before deleting it";
          return false;
        }
        profile.removeSection(section);
        return true;
      },
      &editError);
  if (!removed) {
    return fail(err, editError.starts_with("hub " + section)
                         ? editError
                         : "cannot remove hub " + section + " from " + path_ + ": " + editError);
  }
  const bool filesRemoved = removeHubFiles(hubNumber, err);
  std::string reloadError;
  const bool reloaded =
      askManagerToReload("hub " + section + " was removed from " + path_, &reloadError);
  if (!filesRemoved) {
    return false;
  }
  return reloaded || fail(err, reloadError);
}

// Deletes every file kept for the hub; one that cannot be deleted does not stop the others.
bool ManagerConfig::removeHubFiles(int hubNumber, std::string* err) const {
  std::vector<std::string> paths = {hubFilePath(hubNumber, "_account.ini"),
                                    hubFilePath(hubNumber, "_hosts.ini"),
                                    hubFilePath(hubNumber, "_dhcp.ini")};
  std::error_code ec;
  const std::string section = hubSectionName(hubNumber);
  const std::string folder = iniFolder_.empty() ? std::string(".") : iniFolder_;
  for (std::filesystem::directory_iterator entry(folder, ec), end; !ec && entry != end;
       entry.increment(ec)) {
    const std::string name = entry->path().filename().string();
    if (isLeaseFileOf(name, section)) {
      paths.push_back(iniFolder_ + name);
    }
  }
  bool removedAll = true;
  if (ec) {
    removedAll = fail(err, "cannot list the lease files in " + folder + ": " + ec.message());
  }
  for (const std::string& path : paths) {
    std::string removeError;
    if (!removeFile(path, &removeError) && removedAll) {
      removedAll = fail(err, std::move(removeError));
    }
  }
  return removedAll;
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
