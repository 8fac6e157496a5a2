#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/AccountFile.h"
#include "common/Md5.h"
#include "common/SealedField.h"

namespace korvane::hub {

/// Bytes of the login challenge that the hub sends and the client digests.
inline constexpr std::size_t kChallengeBytes = 16;

/// What a successful login hands to the connection: the account and its flags.
struct AccountLogin {
  std::u16string name;
  bool guest = false;
  bool bridgeAllow = true;
};

/// The accounts of one hub, read from its account file "%04d_account.ini"
/// (common/AccountFile.h): checks login answers,
/// counts connections against each account's ConnectionMax, and numbers the domains that the
/// splitter character cuts from the account names (0 is the global domain).
///
/// All operations may run on any thread at any time: `load` builds the new records without the
/// lock and swaps them in at once, so a login sees either the old accounts or the new ones.
/// Connection counts belong to account names, not to records, so they survive a reload: an
/// account that is still in use after a reload keeps its count and its limit holds.
class AccountStore {
 public:
  /// statusOf's answer for a name that no account has: a locking status, so that a re-check
  /// cuts a client whose account is gone.
  static constexpr common::AccountStatus kUnknownStatus{2};

  /// A store for hub `hubNumber` whose account file lies in `iniDirectory`, with the domain
  /// splitter of the manager configuration (carriage return for none); loads the file at once.
  AccountStore(std::string iniDirectory, int hubNumber, char splitter);

  /// The path of the account file.
  const std::string& path() const { return path_; }

  /// Re-reads the account file and replaces every account; a missing file leaves the store
  /// empty, sections without Password or Status are skipped, nothing is reported. A file that
  /// cannot be read or is refused (not a regular file, too large) keeps the accounts read last.
  void load();

  /// The first account in use (Status 0) whose name and password give `answer` for
  /// `challenge`; std::nullopt when none does or that account's domain is locked.
  [[nodiscard]] std::optional<AccountLogin> authenticate(
      std::span<const std::uint8_t, common::kMd5DigestSize> answer,
      std::span<const std::uint8_t, kChallengeBytes> challenge) const;

  /// Counts one more connection of `name`; false when no account has the name or the count is
  /// now above its non-zero ConnectionMax. Every call, true or false, is to be matched by one
  /// `release` of the same name when the connection ends, and no other call is.
  [[nodiscard]] bool acquire(std::u16string_view name);

  /// Counts one connection of `name` less; a count never goes below 0.
  void release(std::u16string_view name);

  /// The Status of the first account named `name`; kUnknownStatus when there is none.
  common::AccountStatus statusOf(std::u16string_view name) const;
  /// Whether the first account named `name` is a guest; false when there is none.
  bool guestFlagOf(std::u16string_view name) const;
  /// Whether the first account named `name` may connect a bridge; false when there is none.
  bool bridgeAllowOf(std::u16string_view name) const;
  /// The domain index of the first account named `name`; 0 when there is none.
  int domainIndexOfAccount(std::u16string_view name) const;
  /// The acquire calls for `name` not yet matched by a release; 0 when there are none.
  int connectionCountOf(std::u16string_view name) const;

  /// The domain index of the first account whose name holds the splitter and whose domain is
  /// `domain`; 0 when there is none.
  int domainIndexOfDomain(std::u16string_view domain) const;
  /// The domain of the first account with index `domainIndex` when its name holds the
  /// splitter; empty otherwise.
  std::u16string domainNameOf(int domainIndex) const;
  /// The highest domain index any load has given; never lowered, 0 without domains.
  int highestDomainIndex() const;

  /// Makes every account of domain `domainIndex` fail to log in until unlockDomain or the next
  /// load.
  void lockDomain(int domainIndex);
  /// Lets the accounts of domain `domainIndex` log in again.
  void unlockDomain(int domainIndex);

  /// The number of accounts loaded.
  std::size_t accountCount() const;

 private:
  /// The plain name and password blocks that a login answer digests behind the challenge.
  using Credentials = std::array<std::uint8_t, 2 * common::kSealedTextBytes>;

  /// An account as the file holds it, with what the hub keeps beside it.
  struct LoadedAccount : common::AccountRecord {
    bool domainLocked = false;
    Credentials credentials{};
  };

  std::optional<std::vector<LoadedAccount>> readAccountFile() const;
  const LoadedAccount* find(std::u16string_view name) const;
  void setDomainLock(int domainIndex, bool locked);

  const std::string path_;
  const char16_t splitter_;

  mutable std::shared_mutex mutex_;
  std::vector<LoadedAccount> records_;
  int highestDomainIndex_ = 0;
  std::map<std::u16string, int, std::less<>> connectionCounts_;
};

}  // namespace korvane::hub
