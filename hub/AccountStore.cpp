#include "hub/AccountStore.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "common/Atoi.h"
#include "platform/ProfileSections.h"
#include "platform/WholeFile.h"

namespace korvane::hub {

namespace {

/// Every value is read into a buffer that holds a sealed field's 256 digits and its zero byte.
constexpr std::size_t kValueBufferBytes = common::kSealedTextDigits + 1;

/// Default of the keys whose absence makes a section no account.
constexpr std::string_view kNone = "<NONE>";

std::string accountFilePath(std::string iniDirectory, int hubNumber) {
  if (!iniDirectory.empty() && iniDirectory.back() != '/') {
    iniDirectory += '/';
  }
  char name[32];
  std::snprintf(name, sizeof name, "%04d_account.ini", hubNumber);
  return iniDirectory + name;
}

/// The splitter as a UTF-16 code unit: the byte sign-extended, as the panel's reading of the
/// manager configuration makes it.
char16_t splitterUnit(char splitter) {
  return static_cast<char16_t>(static_cast<std::int16_t>(static_cast<signed char>(splitter)));
}

}  // namespace

AccountStore::AccountStore(std::string iniDirectory, int hubNumber, char splitter)
    : path_(accountFilePath(std::move(iniDirectory), hubNumber)),
      splitter_(splitterUnit(splitter)) {
  load();
}

void AccountStore::load() {
  std::optional<std::vector<AccountRecord>> records = readAccountFile();
  if (!records) {
    return;  // a file put in the way says nothing about the accounts: the last ones read stay
  }
  int highest = 0;
  for (const AccountRecord& record : *records) {
    highest = std::max(highest, record.domainIndex);
  }
  const std::unique_lock lock(mutex_);
  records_ = std::move(*records);
  highestDomainIndex_ = std::max(highestDomainIndex_, highest);
}

// The file is read once and every key looked up in that one snapshot: reading key by key from
// disk would scan the whole file for each of the thousands of keys of a large account list.
std::optional<std::vector<AccountStore::AccountRecord>> AccountStore::readAccountFile() const {
  std::vector<AccountRecord> records;
  std::string text;
  std::string err;
  const platform::ReadOutcome outcome = platform::readWholeFile(path_, &text, &err);
  if (outcome == platform::ReadOutcome::kFailed) {
    return std::nullopt;
  }
  if (outcome == platform::ReadOutcome::kMissing) {
    return records;
  }
  const platform::profile::ProfileSections file(text);
  for (const std::string& section : file.names(kAccountSectionListBytes)) {
    std::optional<AccountRecord> record = readAccount(file, section);
    if (!record) {
      continue;
    }
    numberDomain(records, &*record);
    records.push_back(std::move(*record));
  }
  return records;
}

std::optional<AccountStore::AccountRecord> AccountStore::readAccount(
    const platform::profile::ProfileSections& file, const std::string& section) const {
  const std::string password = file.readString(section, "Password", kNone, kValueBufferBytes);
  if (password == kNone) {
    return std::nullopt;
  }
  const std::string status = file.readString(section, "Status", kNone, kValueBufferBytes);
  if (status == kNone) {
    return std::nullopt;
  }
  // The section name holds the sealed account name; digits beyond a sealed field's length
  // do not belong to it.
  std::optional<std::u16string> name =
      common::unsealText(std::string_view(section).substr(0, common::kSealedTextDigits));
  std::optional<std::u16string> plainPassword = common::unsealText(password);
  if (!name || !plainPassword) {
    return std::nullopt;
  }
  AccountRecord record;
  record.name = std::move(*name);
  record.password = std::move(*plainPassword);
  record.status = common::atoiLike(status);
  record.guest = file.readString(section, "GuestFlag", "FALSE", kValueBufferBytes) == "TRUE";
  record.bridgeAllow =
      file.readString(section, "BridgeAllow", "TRUE", kValueBufferBytes) != "FALSE";
  record.connectionMax = std::max(
      0, common::atoiLike(file.readString(section, "ConnectionMax", "0", kValueBufferBytes)));
  const common::TextBlock nameBlock = common::textBlockOf(record.name);
  const common::TextBlock passwordBlock = common::textBlockOf(record.password);
  std::copy(nameBlock.begin(), nameBlock.end(), record.credentials.begin());
  std::copy(passwordBlock.begin(), passwordBlock.end(),
            record.credentials.begin() + common::kSealedTextBytes);
  return record;
}

// A domain keeps the index of the first earlier account with the same domain text, else gets
// one above every index so far. The global domain's empty text counts like any other, so a name
// ending in the splitter joins the global accounts before it.
void AccountStore::numberDomain(const std::vector<AccountRecord>& earlier,
                                AccountRecord* record) const {
  const std::size_t cut = record->name.find(splitter_);
  if (cut == std::u16string::npos) {
    return;
  }
  record->holdsSplitter = true;
  record->domain = record->name.substr(cut + 1);
  int largest = 0;
  for (const AccountRecord& other : earlier) {
    if (other.domain == record->domain) {
      record->domainIndex = other.domainIndex;
      return;
    }
    largest = std::max(largest, other.domainIndex);
  }
  record->domainIndex = largest + 1;
}

std::optional<AccountLogin> AccountStore::authenticate(
    std::span<const std::uint8_t, common::kMd5DigestSize> answer,
    std::span<const std::uint8_t, kChallengeBytes> challenge) const {
  std::array<std::uint8_t, kChallengeBytes + std::tuple_size_v<Credentials>> message{};
  std::copy(challenge.begin(), challenge.end(), message.begin());
  const std::shared_lock lock(mutex_);
  for (const AccountRecord& record : records_) {
    if (record.status != 0) {
      continue;
    }
    std::copy(record.credentials.begin(), record.credentials.end(),
              message.begin() + kChallengeBytes);
    const std::optional<common::Md5Digest> digest = common::md5Digest(message);
    if (!digest || !std::equal(digest->begin(), digest->end(), answer.begin())) {
      continue;
    }
    if (record.domainLocked) {
      return std::nullopt;
    }
    return AccountLogin{record.name, record.guest, record.bridgeAllow};
  }
  return std::nullopt;
}

bool AccountStore::acquire(std::u16string_view name) {
  const std::unique_lock lock(mutex_);
  const AccountRecord* record = find(name);
  if (record == nullptr) {
    return false;
  }
  auto [entry, added] = connectionCounts_.try_emplace(std::u16string(name), 0);
  const int count = ++entry->second;
  return record->connectionMax == 0 || count <= record->connectionMax;
}

void AccountStore::release(std::u16string_view name) {
  const std::unique_lock lock(mutex_);
  const auto entry = connectionCounts_.find(name);
  if (entry == connectionCounts_.end()) {
    return;
  }
  if (--entry->second <= 0) {
    connectionCounts_.erase(entry);
  }
}

int AccountStore::statusOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const AccountRecord* record = find(name);
  return record != nullptr ? record->status : kUnknownStatus;
}

bool AccountStore::guestFlagOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const AccountRecord* record = find(name);
  return record != nullptr && record->guest;
}

bool AccountStore::bridgeAllowOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const AccountRecord* record = find(name);
  return record != nullptr && record->bridgeAllow;
}

int AccountStore::domainIndexOfAccount(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const AccountRecord* record = find(name);
  return record != nullptr ? record->domainIndex : 0;
}

int AccountStore::connectionCountOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const auto entry = connectionCounts_.find(name);
  return entry != connectionCounts_.end() ? entry->second : 0;
}

int AccountStore::domainIndexOfDomain(std::u16string_view domain) const {
  const std::shared_lock lock(mutex_);
  for (const AccountRecord& record : records_) {
    if (record.holdsSplitter && record.domain == domain) {
      return record.domainIndex;
    }
  }
  return 0;
}

std::u16string AccountStore::domainNameOf(int domainIndex) const {
  const std::shared_lock lock(mutex_);
  for (const AccountRecord& record : records_) {
    if (record.domainIndex == domainIndex) {
      return record.holdsSplitter ? record.domain : std::u16string();
    }
  }
  return {};
}

int AccountStore::highestDomainIndex() const {
  const std::shared_lock lock(mutex_);
  return highestDomainIndex_;
}

void AccountStore::lockDomain(int domainIndex) {
  setDomainLock(domainIndex, true);
}

void AccountStore::unlockDomain(int domainIndex) {
  setDomainLock(domainIndex, false);
}

std::size_t AccountStore::accountCount() const {
  const std::shared_lock lock(mutex_);
  return records_.size();
}

void AccountStore::setDomainLock(int domainIndex, bool locked) {
  const std::unique_lock lock(mutex_);
  for (AccountRecord& record : records_) {
    if (record.domainIndex == domainIndex) {
      record.domainLocked = locked;
    }
  }
}

// Callers hold the lock.
const AccountStore::AccountRecord* AccountStore::find(std::u16string_view name) const {
  const auto found =
      std::find_if(records_.begin(), records_.end(),
                   [name](const AccountRecord& record) { return record.name == name; });
  return found != records_.end() ? &*found : nullptr;
}

}  // namespace korvane::hub
