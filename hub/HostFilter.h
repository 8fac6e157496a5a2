#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/TimedMutex.h"
#include "platform/TcpConnection.h"

namespace korvane::platform::profile {
class ProfileSections;
}

namespace korvane::hub {

/// Bytes of the section-name list read from the filter file.
inline constexpr std::size_t kFilterSectionListBytes = 768000;
/// Every value of a rule is read into a 32-byte buffer, so it keeps at most 31 characters: a
/// longer host name is compared by its first 31.
inline constexpr std::size_t kFilterValueBufferBytes = 32;
/// A rule's name is kept in a 256-byte buffer: at most 255 characters of the section name.
inline constexpr std::size_t kFilterRuleNameBytes = 256;
/// Longest wait for the filter's lock, so that a stuck reload cannot hold a connection forever.
inline constexpr std::chrono::milliseconds kFilterLockWait{1000};

/// An IPv4 address or mask, its bytes in network order (192.168.1.7 is {192, 168, 1, 7}).
using Ipv4Address = std::array<std::uint8_t, 4>;

/// The filter's answer for one client: whether it is admitted, and the name of the rule that
/// decided (empty when no rule matched and the client is admitted by default).
struct FilterDecision {
  bool allowed = true;
  std::string reason;
};

/// The connection filter of one hub, read from its filter file "%04d_hosts.ini": an ordered list
/// of rules that allow or refuse clients by IPv4 address and mask or by a text in their host
/// name. The last rule that matches a client decides; no match admits it.
///
/// IPv6 clients are filtered too. An IPv4-mapped address (::ffff:a.b.c.d) is the IPv4 client it
/// stands for. Any other IPv6 client is matched by host name rules as an IPv4 one is, and by an
/// address rule only when its mask is 0.0.0.0 (which matches every client, so that a deny-all
/// rule means all); a non-zero mask is an IPv4 mask and never matches it.
///
/// Checks and reloads may run on any threads; one lock serialises them, so a check sees either
/// the old rules or the new ones, never a mixture.
class HostFilter {
 public:
  /// A filter for hub `hubNumber` whose filter file lies in `iniDirectory`; loads the file at
  /// once.
  HostFilter(std::string iniDirectory, int hubNumber);

  /// The path of the filter file.
  const std::string& path() const { return path_; }

  /// Re-reads the filter file and replaces every rule; a missing file gives no rules, invalid
  /// sections are skipped. False with a message in `err` when the file cannot be read or is
  /// refused (not a regular file, too large), or when the lock is not free within
  /// kFilterLockWait; the old rules then stay.
  [[nodiscard]] bool loadRules(std::string* err);

  /// The decision for a client at `address` whose host name is `hostName`; std::nullopt when the
  /// lock is not free within kFilterLockWait (an admission check then refuses, a re-check keeps
  /// the connection).
  [[nodiscard]] std::optional<FilterDecision> checkAddress(const Ipv4Address& address,
                                                           std::string_view hostName) const;

  /// The decision for a connection's `peer`, IPv4 or IPv6, whose host name is `hostName`, both
  /// at admission and on a re-check; a peer whose address cannot be read is refused with an
  /// empty reason. std::nullopt as for checkAddress.
  [[nodiscard]] std::optional<FilterDecision> checkPeer(const platform::PeerAddress& peer,
                                                        std::string_view hostName) const;

  /// The number of rules loaded.
  std::size_t ruleCount() const;

  /// The address written as a dotted quad: four decimal numbers of at most three digits and at
  /// most 255, separated by exactly three dots, an empty number counting as 0
  /// ("192.168..1" is 192.168.0.1); std::nullopt for anything else.
  static std::optional<Ipv4Address> parseDottedQuad(std::string_view text);

 private:
  struct FilterRule {
    std::string name;
    std::string hostName;
    bool isAddressRule = false;
    Ipv4Address address{};
    Ipv4Address mask{};
    bool allow = false;
  };

  std::optional<std::vector<FilterRule>> readFilterFile(std::string* err) const;
  std::optional<FilterRule> readRule(const platform::profile::ProfileSections& file,
                                     const std::string& section) const;
  /// The decision for a client whose IPv4 address is `address`, or which has none (a pure IPv6
  /// client).
  std::optional<FilterDecision> decide(const std::optional<Ipv4Address>& address,
                                       std::string_view hostName) const;
  static bool matches(const FilterRule& rule, const std::optional<Ipv4Address>& address,
                      std::string_view hostName);

  const std::string path_;

  mutable common::TimedMutex mutex_;
  std::vector<FilterRule> rules_;
};

}  // namespace korvane::hub
