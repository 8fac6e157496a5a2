#include "hub/DhcpBlockFlags.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/ManagerConfigFormat.h"
#include "common/Utf16.h"
#include "hub/AccountStore.h"
#include "platform/ProfileFile.h"

namespace korvane::hub {
namespace {

/// The manager configuration file beside the hub's other settings.
constexpr std::string_view kManagerConfigName = "Tollmar.ini";
/// Every value of the manager configuration file is read into a 1024-byte buffer.
constexpr std::size_t kFlagBufferBytes = 1024;
constexpr std::string_view kBlockedText = "1";

}  // namespace

std::string blockDhcpKeyOf(int domainIndex, std::string_view domainText) {
  if (domainIndex == 0) {
    return std::string(common::kBlockDhcpKey);
  }
  return std::string(common::kBlockDhcpKey) + "@" + std::string(domainText);
}

BlockFlags readBlockFlags(const std::string& path, int hubNumber,
                          std::span<const std::u16string> domainNames) {
  BlockFlags flags{};
  const std::string section = common::hubSectionName(hubNumber);
  const std::size_t count = std::max<std::size_t>(1, std::min(domainNames.size(), flags.size()));
  for (std::size_t index = 0; index < count; ++index) {
    std::optional<std::string> text;
    if (index == 0) {
      text.emplace();
    } else {
      text = common::utf16ToUtf8(domainNames[index]);
    }
    if (!text) {
      continue;
    }
    const std::string key = blockDhcpKeyOf(static_cast<int>(index), *text);
    flags[index] =
        platform::profile::readString(path, section, key, "0", kFlagBufferBytes) == kBlockedText
            ? 1
            : 0;
  }
  return flags;
}

void loadBlockFlags(BlockFlags& flags, const std::string& iniDirectory, int hubNumber,
                    const AccountStore* accounts) {
  std::vector<std::u16string> domainNames(1);
  if (accounts != nullptr) {
    const int highest = std::min(accounts->highestDomainIndex(), kMaxDomains - 1);
    for (int index = 1; index <= highest; ++index) {
      domainNames.push_back(accounts->domainNameOf(index));
    }
  }
  flags = readBlockFlags(iniDirectory + std::string(kManagerConfigName), hubNumber, domainNames);
}

}  // namespace korvane::hub
