#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/// A hub's account file "%04d_account.ini": one section per account, in the order of the
/// panel's list. The section name is the account name sealed (common/SealedField.h); the keys
/// are Password (sealed), Status, GuestFlag, ConnectionMax and BridgeAllow. The panel and kvctl
/// write the file whole; the hub and the panel read it with the rules below, and both number
/// the domains that the splitter cuts from the names in the same way, so that the panel's domain
/// indexes are the hub's segments.
namespace korvane::common {

/// Bytes of the section-name list read from an account file. A section name is 256 digits and
/// its zero byte, so the first 1,992 accounts are read whole; a name cut by the end of the list
/// finds no keys and is not an account.
inline constexpr std::size_t kAccountSectionListBytes = 512000;

/// Whether an account may log in: the file's Status, kept as the number it is.
enum class AccountStatus : std::int32_t {
  kInUse = 0,   ///< the account may log in
  kLocked = 1,  ///< what the panel writes for a locked account; every value but 0 locks too
};

/// One account of the file, with the domain it falls into.
struct AccountRecord {
  std::u16string name;      ///< login name, with the domain behind the splitter
  std::u16string password;  ///< plain password
  AccountStatus status = AccountStatus::kInUse;
  bool guest = false;  ///< a guest account, whose frames never reach other guests
  /// Most simultaneous connections: 0 any number ("multi"), 1 one at a time ("single"); a
  /// negative number in the file reads as 0.
  std::int32_t connectionMax = 0;
  bool bridgeAllow = true;  ///< the account may connect a bridge

  // Derived from the name and the list's order by numberDomains; not stored in the file.
  std::u16string domain;         ///< text behind the first splitter; empty for the global domain
  std::int32_t domainIndex = 0;  ///< 0 for the global domain; the hub numbers its segments so

  bool operator==(const AccountRecord&) const = default;
};

/// The path of hub `hubNumber`'s account file in `iniDirectory`.
std::string accountFilePath(const std::string& iniDirectory, int hubNumber);

/// The domain splitter of the manager configuration as a UTF-16 code unit: its byte
/// sign-extended (carriage return, 13, stands for no splitter, since no name holds it).
char16_t splitterUnit(char splitter);

/// The accounts of an account file's text, in file order, their domains not yet numbered. A
/// section is no account, and is left out without a word, when it lacks Password or Status.
/// Status and ConnectionMax are read as C's atoi reads them; only GuestFlag "TRUE" makes a guest
/// and only BridgeAllow "FALSE" forbids bridging, exactly as written.
std::vector<AccountRecord> parseAccountFile(std::string_view text);

/// The account file holding `records`, each as "[name]\r\nPassword=p\r\nStatus=%d\r\n
/// GuestFlag=TRUE|FALSE\r\nConnectionMax=%d\r\nBridgeAllow=TRUE|FALSE\r\n" with the name and the
/// password sealed; std::nullopt with a message in `err` when libcrypto fails to seal one.
[[nodiscard]] std::optional<std::string> formatAccountFile(std::span<const AccountRecord> records,
                                                           std::string* err);

/// Gives every record its domain and domain index, in list order, as the hub numbers its
/// segments: a name holding `splitter` has the text behind its first occurrence as domain, and
/// takes the index of the first earlier record with an equal domain (global accounts, whose
/// domain is empty, included) or else one above every index before it. Returns the highest
/// index given (0 without domains).
int numberDomains(std::vector<AccountRecord>* records, char16_t splitter);

/// An account's name or password as UTF-8 for messages, an unpaired surrogate (which a text
/// unsealed from foreign digits may hold) shown as U+FFFD.
std::string displayText(std::u16string_view text);

}  // namespace korvane::common
