#include "hub/HostFilter.h"

#include <algorithm>
#include <cstdio>

#include "platform/HostName.h"
#include "platform/ProfileSections.h"
#include "platform/WholeFile.h"

namespace korvane::hub {

namespace {

/// Default of every key, so that a missing key can be told from an empty one.
constexpr std::string_view kNone = "<NONE>";

/// Where the IPv4 address starts in an IPv4-mapped IPv6 address (its last four bytes).
constexpr std::size_t kMappedIpv4At = 12;

/// Whether `address` is IPv4-mapped, ::ffff:a.b.c.d: ten zero bytes, two 0xff, the IPv4 address.
bool isIpv4Mapped(const platform::Ipv6Bytes& address) {
  const auto zeros = address.begin() + (kMappedIpv4At - 2);
  return std::all_of(address.begin(), zeros, [](std::uint8_t byte) { return byte == 0; }) &&
         zeros[0] == 0xff && zeros[1] == 0xff;
}

/// Digits of one number of a dotted quad.
constexpr std::size_t kMaxQuadDigits = 3;
constexpr int kMaxQuadValue = 255;

std::string filterFilePath(std::string iniDirectory, int hubNumber) {
  if (!iniDirectory.empty() && iniDirectory.back() != '/') {
    iniDirectory += '/';
  }
  char name[32];
  std::snprintf(name, sizeof name, "%04d_hosts.ini", hubNumber);
  return iniDirectory + name;
}

/// One number of a dotted quad; empty reads as 0.
std::optional<std::uint8_t> parseQuadNumber(std::string_view digits) {
  if (digits.size() > kMaxQuadDigits) {
    return std::nullopt;
  }
  int value = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') {
      return std::nullopt;
    }
    value = value * 10 + (digit - '0');
  }
  if (value > kMaxQuadValue) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

}  // namespace

HostFilter::HostFilter(std::string iniDirectory, int hubNumber)
    : path_(filterFilePath(std::move(iniDirectory), hubNumber)) {
  std::string ignored;
  rules_ = readFilterFile(&ignored).value_or(std::vector<FilterRule>{});
}

bool HostFilter::loadRules(std::string* err) {
  // The file is read before the lock is taken, so checks wait only for the swap.
  std::string readError;
  std::optional<std::vector<FilterRule>> rules = readFilterFile(&readError);
  if (!rules) {
    if (err != nullptr) {
      *err = readError + "; the filter keeps its rules";
    }
    return false;
  }
  const std::unique_lock lock(mutex_, kFilterLockWait);
  if (!lock.owns_lock()) {
    if (err != nullptr) {
      *err = "the filter is busy; its rules were not reloaded";
    }
    return false;
  }
  rules_ = std::move(*rules);
  return true;
}

// The file is read once and every rule looked up in that one snapshot.
std::optional<std::vector<HostFilter::FilterRule>> HostFilter::readFilterFile(
    std::string* err) const {
  std::vector<FilterRule> rules;
  std::string text;
  std::string readError;
  const platform::ReadOutcome outcome = platform::readWholeFile(path_, &text, &readError);
  if (outcome == platform::ReadOutcome::kFailed) {
    *err = "cannot read " + path_ + ": " + readError;
    return std::nullopt;
  }
  if (outcome == platform::ReadOutcome::kMissing) {
    return rules;
  }
  const platform::profile::ProfileSections file(text);
  for (const std::string& section : file.names(kFilterSectionListBytes)) {
    std::optional<FilterRule> rule = readRule(file, section);
    if (rule) {
      rules.push_back(std::move(*rule));
    }
  }
  return rules;
}

std::optional<HostFilter::FilterRule> HostFilter::readRule(
    const platform::profile::ProfileSections& file, const std::string& section) const {
  const auto read = [&file, &section](std::string_view key) {
    return file.readString(section, key, kNone, kFilterValueBufferBytes);
  };
  FilterRule rule;
  const std::string address = read("IPADDRESS");
  std::string mask;
  if (address == kNone) {
    rule.hostName = read("HOSTNAME");
    if (rule.hostName == kNone) {
      return std::nullopt;
    }
  } else {
    mask = read("MASK");
    if (mask == kNone) {
      return std::nullopt;
    }
    rule.isAddressRule = true;
  }
  const std::string allow = read("ALLOW");
  if (allow == kNone) {
    return std::nullopt;
  }
  rule.name = section.substr(0, kFilterRuleNameBytes - 1);
  if (rule.isAddressRule) {
    const std::optional<Ipv4Address> parsedAddress = parseDottedQuad(address);
    const std::optional<Ipv4Address> parsedMask = parseDottedQuad(mask);
    if (!parsedAddress || !parsedMask) {
      return std::nullopt;
    }
    rule.address = *parsedAddress;
    rule.mask = *parsedMask;
  }
  rule.allow = allow == "TRUE";
  return rule;
}

std::optional<FilterDecision> HostFilter::checkAddress(const Ipv4Address& address,
                                                       std::string_view hostName) const {
  return decide(address, hostName);
}

std::optional<FilterDecision> HostFilter::checkPeer(const platform::PeerAddress& peer,
                                                    std::string_view hostName) const {
  if (peer.isIpv4) {
    return decide(peer.ipv4, hostName);
  }
  const std::optional<platform::Ipv6Bytes> ipv6 = platform::parseIpv6(peer.numericHost);
  if (!ipv6) {
    return FilterDecision{false, {}};
  }
  if (isIpv4Mapped(*ipv6)) {
    Ipv4Address ipv4{};
    std::copy(ipv6->begin() + kMappedIpv4At, ipv6->end(), ipv4.begin());
    return decide(ipv4, hostName);
  }
  return decide(std::nullopt, hostName);
}

std::optional<FilterDecision> HostFilter::decide(const std::optional<Ipv4Address>& address,
                                                 std::string_view hostName) const {
  const std::unique_lock lock(mutex_, kFilterLockWait);
  if (!lock.owns_lock()) {
    return std::nullopt;
  }
  FilterDecision decision;
  for (const FilterRule& rule : rules_) {
    if (matches(rule, address, hostName)) {
      decision.allowed = rule.allow;
      decision.reason = rule.name;
    }
  }
  return decision;
}

std::size_t HostFilter::ruleCount() const {
  const std::unique_lock lock(mutex_);
  return rules_.size();
}

bool HostFilter::matches(const FilterRule& rule, const std::optional<Ipv4Address>& address,
                         std::string_view hostName) {
  if (!rule.isAddressRule) {
    return hostName.find(rule.hostName) != std::string_view::npos;
  }
  if (rule.mask == Ipv4Address{}) {
    return true;  // compares no bit: every client, IPv6 ones included
  }
  if (!address) {
    return false;  // an IPv4 mask says nothing about an IPv6 address
  }
  for (std::size_t i = 0; i < address->size(); ++i) {
    if (((*address)[i] & rule.mask[i]) != (rule.address[i] & rule.mask[i])) {
      return false;
    }
  }
  return true;
}

std::optional<Ipv4Address> HostFilter::parseDottedQuad(std::string_view text) {
  Ipv4Address address{};
  for (std::size_t i = 0; i < address.size(); ++i) {
    const std::size_t dot = text.find('.');
    const bool last = i + 1 == address.size();
    // Exactly three dots: one behind each of the first three numbers, none behind the last.
    if (last != (dot == std::string_view::npos)) {
      return std::nullopt;
    }
    const std::optional<std::uint8_t> number = parseQuadNumber(text.substr(0, dot));
    if (!number) {
      return std::nullopt;
    }
    address[i] = *number;
    text.remove_prefix(last ? text.size() : dot + 1);
  }
  return address;
}

}  // namespace korvane::hub
