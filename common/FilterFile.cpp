#include "common/FilterFile.h"

#include <optional>

#include "common/AsciiCase.h"
#include "common/ManagerConfigFormat.h"
#include "platform/ProfileSections.h"

namespace korvane::common {

namespace {

/// Default of every key: a section lacking the key it needs is no rule.
constexpr std::string_view kNone = "<NONE>";

std::string allowText(bool allow) {
  return allow ? "TRUE" : "FALSE";
}

// One section of the filter file; std::nullopt when it is no rule.
std::optional<FilterRule> readRule(const platform::profile::ProfileSections& file,
                                   const std::string& section) {
  const auto read = [&file, &section](std::string_view key, std::size_t bufferBytes) {
    return file.readString(section, key, kNone, bufferBytes);
  };
  FilterRule rule;
  const std::string address = read("IPADDRESS", kFilterValueBufferBytes);
  std::string mask;
  if (address == kNone) {
    rule.kind = FilterRuleKind::kHostName;
    rule.hostName = read("HOSTNAME", kFilterHostNameBufferBytes);
    if (rule.hostName == kNone) {
      return std::nullopt;
    }
  } else {
    rule.kind = FilterRuleKind::kAddress;
    mask = read("MASK", kFilterValueBufferBytes);
    if (mask == kNone) {
      return std::nullopt;
    }
  }
  const std::string allow = read("ALLOW", kFilterValueBufferBytes);
  if (allow == kNone) {
    return std::nullopt;
  }
  rule.name = platform::profile::cutToBuffer(section, kFilterRuleNameBufferBytes);
  if (rule.kind == FilterRuleKind::kAddress) {
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

}  // namespace

std::string filterFilePath(const std::string& iniDirectory, int hubNumber) {
  const bool needsSlash = !iniDirectory.empty() && iniDirectory.back() != '/';
  return iniDirectory + (needsSlash ? "/" : "") + hubSectionName(hubNumber) + "_hosts.ini";
}

// The file is read once and every rule looked up in that one snapshot.
std::vector<FilterRule> parseFilterFile(std::string_view text) {
  const platform::profile::ProfileSections file(text);
  std::vector<FilterRule> rules;
  for (const std::string& section : file.names(kFilterSectionListBytes)) {
    std::optional<FilterRule> rule = readRule(file, section);
    if (rule) {
      rules.push_back(std::move(*rule));
    }
  }
  return rules;
}

std::string formatFilterFile(std::span<const FilterRule> rules) {
  std::string text;
  for (const FilterRule& rule : rules) {
    text += "[" + rule.name + "]\r\n";
    if (rule.kind == FilterRuleKind::kAddress) {
      text += "IPADDRESS=" + formatIpv4Address(rule.address) +
              "\r\nMASK=" + formatIpv4Address(rule.mask) + "\r\n";
    } else {
      text += "HOSTNAME=" + rule.hostName + "\r\n";
    }
    text += "ALLOW=" + allowText(rule.allow) + "\r\n";
  }
  return text;
}

bool sameRuleName(std::string_view a, std::string_view b) {
  return sameIgnoringAsciiCase(a, b);
}

}  // namespace korvane::common
