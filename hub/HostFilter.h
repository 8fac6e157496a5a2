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

#include "common/DottedAddress.h"
#include "common/FilterFile.h"
#include "common/TimedMutex.h"
#include "platform/TcpConnection.h"

namespace korvane::hub {

/// Longest wait for the filter's lock, so that a stuck reload cannot hold a connection forever.
inline constexpr std::chrono::milliseconds kFilterLockWait{1000};

using common::Ipv4Address;

/// The filter's answer for one client: whether it is admitted, and the name of the rule that
/// decided (empty when no rule matched and the client is admitted by default).
struct FilterDecision {
  bool allowed = true;
  std::string reason;
};

/// The connection filter of one hub, read from its filter file "%04d_hosts.ini"
/// (common/FilterFile.h): an ordered list of rules that allow or refuse clients by IPv4 address
/// and mask or by a text in their host name. The last rule that matches a client decides; no
/// match admits it. A host name rule compares the first 31 bytes of its text (the length of
/// the file's other values), whatever length the file gives it.
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
  /// once. When the file exists but cannot be read, the filter refuses every client (with an
  /// empty reason) until loadRules succeeds, and startError() says why.
  HostFilter(std::string iniDirectory, int hubNumber);

  /// Why the file could not be read at start, while no later load succeeded; empty otherwise.
  std::string startError() const;

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

 private:
  using FilterRule = common::FilterRule;

  std::optional<std::vector<FilterRule>> readFilterFile(std::string* err) const;
  /// The decision for a client whose IPv4 address is `address`, or which has none (a pure IPv6
  /// client).
  std::optional<FilterDecision> decide(const std::optional<Ipv4Address>& address,
                                       std::string_view hostName) const;
  static bool matches(const FilterRule& rule, const std::optional<Ipv4Address>& address,
                      std::string_view hostName);

  const std::string path_;

  mutable common::TimedMutex mutex_;
  // Empty while no readable file was ever loaded: every client is refused.
  std::optional<std::vector<FilterRule>> rules_;
  std::string startError_;
};

}  // namespace korvane::hub
