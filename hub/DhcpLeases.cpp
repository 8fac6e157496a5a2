#include "hub/DhcpLeases.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "common/Atoi.h"
#include "common/TimedMutex.h"
#include "common/DottedAddress.h"
#include "platform/ProfileSections.h"
#include "platform/WholeFile.h"

namespace korvane::hub {

using common::dottedText;
using common::kInvalidAddress;
using common::parseInetAddress;
namespace {

constexpr std::string_view kExpiryKey = "LeaseExpireTime";
constexpr std::string_view kMacAddressKey = "MacAddress";
constexpr std::string_view kHostNameKey = "HostName";
constexpr std::string_view kAddressKey = "IPAddress";
/// What a missing key reads as, so that the end of the list can be told from an empty value.
constexpr std::string_view kNoneText = "<NONE>";
/// Every value of a lease is read into a 256-byte buffer: at most 255 characters.
constexpr std::size_t kValueBufferBytes = 256;
/// "DHCP_ENTRY_" and the longest number %d prints, with the terminating zero.
constexpr std::size_t kSectionNameBytes = 32;

std::string sectionName(int number) {
  char name[kSectionNameBytes];
  std::snprintf(name, sizeof name, "DHCP_ENTRY_%d", number);
  return name;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return 0;  // anything else, lower-case letters included, counts as 0
}

MacAddress macFromDigits(std::string_view digits) {
  MacAddress mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const char high = 2 * i < digits.size() ? digits[2 * i] : '0';
    const char low = 2 * i + 1 < digits.size() ? digits[2 * i + 1] : '0';
    mac[i] = static_cast<std::uint8_t>(hexDigit(high) * 16 + hexDigit(low));
  }
  return mac;
}

std::string macDigits(const MacAddress& mac) {
  // Twelve digits and the terminating zero.
  char digits[13];
  std::snprintf(digits, sizeof digits, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return digits;
}

// The profile reader trims blanks and takes off one pair of matching quotes; a value that would
// lose either is written inside a further pair of quotes, so that it reads back as it was.
std::string quotedIfNeeded(const std::string& value) {
  if (value.empty()) {
    return value;
  }
  const bool blankAtEnd = value.front() == ' ' || value.back() == ' ';
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return blankAtEnd || quoted ? "\"" + value + "\"" : value;
}

std::int64_t expiryAfter(std::int64_t now, std::int64_t leaseTime) {
  return now > INT64_MAX - leaseTime ? INT64_MAX : now + leaseTime;
}

// The file's text for `leases`: one section per lease, numbered from 1 in list order.
std::string fileText(const std::vector<DhcpLease>& leases) {
  std::string text;
  int number = 0;
  for (const DhcpLease& lease : leases) {
    text += "[" + sectionName(++number) + "]\r\n";
    text += std::string(kExpiryKey) + "=" + std::to_string(lease.expiry) + "\r\n";
    text += std::string(kMacAddressKey) + "=" + macDigits(lease.hardwareAddress) + "\r\n";
    // A name from the file or from a station never holds a line break (see hostNameOf), but the
    // file must stay readable whatever the list holds.
    text += std::string(kHostNameKey) + "=" + quotedIfNeeded(hostNameOf(lease.hostName)) + "\r\n";
    text += std::string(kAddressKey) + "=" + dottedText(lease.address) + "\r\n";
  }
  return text;
}

DhcpLease* leaseHolding(std::vector<DhcpLease>& leases, std::uint32_t address) {
  const auto found = std::find_if(leases.begin(), leases.end(), [address](const DhcpLease& lease) {
    return lease.address == address;
  });
  return found == leases.end() ? nullptr : &*found;
}

// The leases of a lease file's text, in section order up to the first missing number.
std::vector<DhcpLease> leasesOfText(std::string_view content) {
  // Split into sections once: looking every key up from the top of the text made a file of
  // thousands of leases take seconds to load.
  const platform::profile::ProfileSections sections(content);
  const auto read = [&sections](const std::string& section, std::string_view key) {
    return sections.readString(section, key, kNoneText, kValueBufferBytes);
  };
  std::vector<DhcpLease> leases;
  for (int number = 1; number < INT_MAX; ++number) {
    const std::string section = sectionName(number);
    const std::string expiry = read(section, kExpiryKey);
    if (expiry == kNoneText) {
      break;
    }
    DhcpLease lease;
    lease.expiry = common::strtollLike(expiry);
    lease.hardwareAddress = macFromDigits(read(section, kMacAddressKey));
    lease.hostName = read(section, kHostNameKey);
    lease.address = parseInetAddress(read(section, kAddressKey)).value_or(kInvalidAddress);
    leases.push_back(std::move(lease));
  }
  return leases;
}

}  // namespace

std::string hostNameOf(std::string_view received) {
  const auto end = std::find_if(received.begin(), received.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  std::string name(received.begin(), end);
  if (name.size() > kMaxHostNameBytes) {
    name.resize(kMaxHostNameBytes);
  }
  return name;
}

/// The list itself, with its lock; the lease writer reads it through the Source interface.
struct DhcpLeases::Table final : LeaseWriter::Source {
  explicit Table(std::string filePath) : path(std::move(filePath)) {}

  const std::string& filePath() const override { return path; }

  // Copied under the lock and turned into text outside it, so the writer holds up the stations
  // of the domain no longer than a copy takes.
  std::optional<std::string> currentText() const override {
    std::vector<DhcpLease> copy;
    {
      const std::unique_lock lock(mutex, kLeaseLockWait);
      if (!lock.owns_lock()) {
        return std::nullopt;
      }
      copy = leases;
    }
    return fileText(copy);
  }

  const std::string path;
  mutable common::TimedMutex mutex;
  std::vector<DhcpLease> leases;
};

DhcpLeases::DhcpLeases(std::string path, std::shared_ptr<LeaseWriter> writer)
    : table_(std::make_shared<Table>(std::move(path))), writer_(std::move(writer)) {}

const std::string& DhcpLeases::path() const {
  return table_->path;
}

bool DhcpLeases::load(std::string* err) {
  std::vector<DhcpLease> leases = readFile();
  const std::unique_lock lock(table_->mutex, kLeaseLockWait);
  if (!lock.owns_lock()) {
    *err = "the lease list of " + path() + " stayed locked";
    return false;
  }
  table_->leases = std::move(leases);
  return true;
}

std::vector<DhcpLease> DhcpLeases::readFile() const {
  if (path().empty()) {
    return {};
  }
  // A change still on its way to the file (made by a service that was let go) is what the file
  // is about to hold.
  const std::shared_ptr<const LeaseWriter::Source> outstanding =
      writer_ ? writer_->outstanding(path()) : nullptr;
  std::optional<std::string> content = outstanding ? outstanding->currentText() : std::nullopt;
  if (!content) {
    std::string ignored;
    content.emplace();
    if (platform::readWholeFile(path(), &*content, &ignored) != platform::ReadOutcome::kRead) {
      return {};
    }
  }
  return leasesOfText(*content);
}

bool DhcpLeases::save(std::string* err) {
  if (path().empty()) {
    return true;
  }
  const std::optional<std::string> text = table_->currentText();
  if (!text) {
    *err = "the lease list of " + path() + " stayed locked";
    return false;
  }
  std::string writeError;
  if (!platform::replaceWholeFile(path(), *text, &writeError)) {
    *err = "cannot write " + path() + ": " + writeError;
    return false;
  }
  return true;
}

std::optional<std::uint32_t> DhcpLeases::allocate(const MacAddress& station,
                                                  std::string_view hostName, const DhcpPool& pool,
                                                  std::int64_t now, std::int64_t leaseTime) {
  std::optional<std::uint32_t> given;
  {
    const std::unique_lock lock(table_->mutex, kLeaseLockWait);
    if (!lock.owns_lock()) {
      return std::nullopt;
    }
    std::vector<DhcpLease>& leases = table_->leases;
    std::erase_if(leases, [now](const DhcpLease& lease) { return lease.expiry < now; });
    // A station that comes back gets its own address again, even when a lower one is free.
    for (DhcpLease& lease : leases) {
      if (pool.contains(lease.address) && lease.hardwareAddress == station &&
          lease.hostName == hostName) {
        lease.expiry = expiryAfter(now, leaseTime);
        given = lease.address;
        break;
      }
    }
    if (!given) {
      std::unordered_set<std::uint32_t> held;
      for (const DhcpLease& lease : leases) {
        held.insert(lease.address);
      }
      for (std::uint32_t candidate = pool.lower; candidate < pool.upper; ++candidate) {
        if (!held.contains(candidate)) {
          leases.push_back(
              {expiryAfter(now, leaseTime), station, std::string(hostName), candidate});
          given = candidate;
          break;
        }
      }
    }
  }
  markChanged();
  return given;
}

std::optional<bool> DhcpLeases::check(std::uint32_t address, const MacAddress& station,
                                      const DhcpPool& pool, std::int64_t now,
                                      std::int64_t leaseTime) {
  {
    const std::unique_lock lock(table_->mutex, kLeaseLockWait);
    if (!lock.owns_lock()) {
      return std::nullopt;
    }
    if (!pool.contains(address)) {
      return false;
    }
    DhcpLease* lease = leaseHolding(table_->leases, address);
    if (lease == nullptr) {
      table_->leases.push_back({expiryAfter(now, leaseTime), station, std::string(), address});
    } else if (lease->hardwareAddress == station) {
      lease->expiry = expiryAfter(now, leaseTime);
    } else {
      return false;
    }
  }
  markChanged();
  return true;
}

bool DhcpLeases::release(std::uint32_t address, const MacAddress& station, const DhcpPool& pool) {
  {
    const std::unique_lock lock(table_->mutex, kLeaseLockWait);
    if (!lock.owns_lock() || !pool.contains(address)) {
      return false;
    }
    DhcpLease* lease = leaseHolding(table_->leases, address);
    if (lease != nullptr && lease->hardwareAddress != station) {
      return false;
    }
    if (lease != nullptr) {
      std::vector<DhcpLease>& leases = table_->leases;
      leases.erase(leases.begin() + (lease - leases.data()));
    }
  }
  markChanged();
  return true;
}

std::optional<std::uint32_t> DhcpLeases::addressOf(const MacAddress& station) const {
  const std::unique_lock lock(table_->mutex, kLeaseLockWait);
  if (!lock.owns_lock()) {
    return std::nullopt;
  }
  for (const DhcpLease& lease : table_->leases) {
    if (lease.hardwareAddress == station) {
      return lease.address;
    }
  }
  return std::nullopt;
}

std::vector<DhcpLease> DhcpLeases::leases() const {
  const std::unique_lock lock(table_->mutex, kLeaseLockWait);
  if (!lock.owns_lock()) {
    return {};
  }
  return table_->leases;
}

// Only the file is marked: the writer writes it later on its own thread, and a failed write
// is not the station's problem, since the list in memory stays authoritative.
void DhcpLeases::markChanged() {
  if (writer_ && !path().empty()) {
    writer_->markChanged(table_);
  }
}

}  // namespace korvane::hub
