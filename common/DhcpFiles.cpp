#include "common/DhcpFiles.h"

#include <cstdio>

#include "common/Utf16.h"

namespace korvane::common {
namespace {

constexpr std::string_view kGlobalSection = "DHCP";
/// "%04d_" of the longest number %d prints, with the terminating zero.
constexpr std::size_t kHubPrefixBytes = 16;

std::string hubPrefix(int hubNumber) {
  char prefix[kHubPrefixBytes];
  std::snprintf(prefix, sizeof prefix, "%04d_", hubNumber);
  return prefix;
}

}  // namespace

std::optional<std::string> domainFileText(std::u16string_view domain) {
  std::optional<std::string> text = utf16ToUtf8(domain);
  if (text && text->size() > kDomainTextMaxBytes) {
    text->resize(kDomainTextMaxBytes);
  }
  return text;
}

std::string dhcpSettingsSection(std::string_view domainText) {
  if (domainText.empty()) {
    return std::string(kGlobalSection);
  }
  return std::string(kGlobalSection) + "@" + std::string(domainText);
}

std::string dhcpSettingsFileName(int hubNumber) {
  return hubPrefix(hubNumber) + "dhcp.ini";
}

std::string dhcpLeaseFileName(int hubNumber, std::string_view domainText) {
  return hubPrefix(hubNumber) + std::string(domainText) + "_dhcp.leases";
}

}  // namespace korvane::common
