#include "hub/HostFilter.h"

#include <algorithm>

#include "platform/HostName.h"
#include "platform/ProfileText.h"
#include "platform/WholeFile.h"

namespace korvane::hub {

namespace {

/// Where the IPv4 address starts in an IPv4-mapped IPv6 address (its last four bytes).
constexpr std::size_t kMappedIpv4At = 12;

/// Whether `address` is IPv4-mapped, ::ffff:a.b.c.d: ten zero bytes, two 0xff, the IPv4 address.
bool isIpv4Mapped(const platform::Ipv6Bytes& address) {
  const auto zeros = address.begin() + (kMappedIpv4At - 2);
  return std::all_of(address.begin(), zeros, [](std::uint8_t byte) { return byte == 0; }) &&
         zeros[0] == 0xff && zeros[1] == 0xff;
}

}  // namespace

HostFilter::HostFilter(std::string iniDirectory, int hubNumber)
    : path_(common::filterFilePath(iniDirectory, hubNumber)) {
  // A file that exists but cannot be read leaves no rules to keep: refusing everyone until a
  // reload succeeds is safe, while no rules would admit every client the file may refuse.
  rules_ = readFilterFile(&startError_);
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
  rules_ = std::move(rules);
  startError_.clear();
  return true;
}

// A missing file reads as an empty text: no rules. A host name rule keeps the first 31 bytes of
// its text, the length the hub has always compared.
std::optional<std::vector<HostFilter::FilterRule>> HostFilter::readFilterFile(
    std::string* err) const {
  std::string text;
  std::string readError;
  if (platform::readWholeFile(path_, &text, &readError) == platform::ReadOutcome::kFailed) {
    *err = "cannot read " + path_ + ": " + readError;
    return std::nullopt;
  }
  std::vector<FilterRule> rules = common::parseFilterFile(text);
  for (FilterRule& rule : rules) {
    rule.hostName = platform::profile::cutToBuffer(rule.hostName, common::kFilterValueBufferBytes);
  }
  return rules;
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
  if (!rules_) {
    return FilterDecision{false, {}};
  }
  FilterDecision decision;
  for (const FilterRule& rule : *rules_) {
    if (matches(rule, address, hostName)) {
      decision.allowed = rule.allow;
      decision.reason = rule.name;
    }
  }
  return decision;
}

std::string HostFilter::startError() const {
  const std::unique_lock lock(mutex_);
  return startError_;
}

std::size_t HostFilter::ruleCount() const {
  const std::unique_lock lock(mutex_);
  return rules_ ? rules_->size() : 0;
}

bool HostFilter::matches(const FilterRule& rule, const std::optional<Ipv4Address>& address,
                         std::string_view hostName) {
  if (rule.kind == common::FilterRuleKind::kHostName) {
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

}  // namespace korvane::hub
