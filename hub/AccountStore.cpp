#include "hub/AccountStore.h"

#include <algorithm>
#include <mutex>

#include "platform/WholeFile.h"

namespace korvane::hub {

AccountStore::AccountStore(std::string iniDirectory, int hubNumber, char splitter)
    : path_(common::accountFilePath(iniDirectory, hubNumber)),
      splitter_(common::splitterUnit(splitter)) {
  load();
}

void AccountStore::load() {
  std::optional<std::vector<LoadedAccount>> records = readAccountFile();
  if (!records) {
    return;  // a file put in the way says nothing about the accounts: the last ones read stay
  }
  int highest = 0;
  for (const LoadedAccount& record : *records) {
    highest = std::max(highest, record.domainIndex);
  }
  const std::unique_lock lock(mutex_);
  records_ = std::move(*records);
  highestDomainIndex_ = std::max(highestDomainIndex_, highest);
}

// A missing file reads as an empty text: no accounts.
std::optional<std::vector<AccountStore::LoadedAccount>> AccountStore::readAccountFile() const {
  std::string text;
  std::string err;
  if (platform::readWholeFile(path_, &text, &err) == platform::ReadOutcome::kFailed) {
    return std::nullopt;
  }
  std::vector<common::AccountRecord> accounts = common::parseAccountFile(text);
  common::numberDomains(&accounts, splitter_);
  std::vector<LoadedAccount> records;
  records.reserve(accounts.size());
  for (common::AccountRecord& account : accounts) {
    LoadedAccount& record = records.emplace_back(LoadedAccount{std::move(account)});
    const common::TextBlock nameBlock = common::textBlockOf(record.name);
    const common::TextBlock passwordBlock = common::textBlockOf(record.password);
    std::copy(nameBlock.begin(), nameBlock.end(), record.credentials.begin());
    std::copy(passwordBlock.begin(), passwordBlock.end(),
              record.credentials.begin() + common::kSealedTextBytes);
  }
  return records;
}

std::optional<AccountLogin> AccountStore::authenticate(
    std::span<const std::uint8_t, common::kMd5DigestSize> answer,
    std::span<const std::uint8_t, kChallengeBytes> challenge) const {
  std::array<std::uint8_t, kChallengeBytes + std::tuple_size_v<Credentials>> message{};
  std::copy(challenge.begin(), challenge.end(), message.begin());
  const std::shared_lock lock(mutex_);
  for (const LoadedAccount& record : records_) {
    if (record.status != common::AccountStatus::kInUse) {
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
  const LoadedAccount* record = find(name);
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

common::AccountStatus AccountStore::statusOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const LoadedAccount* record = find(name);
  return record != nullptr ? record->status : kUnknownStatus;
}

bool AccountStore::guestFlagOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const LoadedAccount* record = find(name);
  return record != nullptr && record->guest;
}

bool AccountStore::bridgeAllowOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const LoadedAccount* record = find(name);
  return record != nullptr && record->bridgeAllow;
}

int AccountStore::domainIndexOfAccount(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const LoadedAccount* record = find(name);
  return record != nullptr ? record->domainIndex : 0;
}

int AccountStore::connectionCountOf(std::u16string_view name) const {
  const std::shared_lock lock(mutex_);
  const auto entry = connectionCounts_.find(name);
  return entry != connectionCounts_.end() ? entry->second : 0;
}

// Global accounts have the empty domain too, without holding the splitter; the first record
// with the domain still answers as the first one holding the splitter would: an account whose
// name ends in the splitter and comes after a global one takes that one's index, 0.
int AccountStore::domainIndexOfDomain(std::u16string_view domain) const {
  const std::shared_lock lock(mutex_);
  for (const LoadedAccount& record : records_) {
    if (record.domain == domain) {
      return record.domainIndex;
    }
  }
  return 0;
}

// A global account's domain is empty, which is the answer for a name without the splitter.
std::u16string AccountStore::domainNameOf(int domainIndex) const {
  const std::shared_lock lock(mutex_);
  for (const LoadedAccount& record : records_) {
    if (record.domainIndex == domainIndex) {
      return record.domain;
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
  for (LoadedAccount& record : records_) {
    if (record.domainIndex == domainIndex) {
      record.domainLocked = locked;
    }
  }
}

// Callers hold the lock.
const AccountStore::LoadedAccount* AccountStore::find(std::u16string_view name) const {
  const auto found =
      std::find_if(records_.begin(), records_.end(),
                   [name](const LoadedAccount& record) { return record.name == name; });
  return found != records_.end() ? &*found : nullptr;
}

}  // namespace korvane::hub
