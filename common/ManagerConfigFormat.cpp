#include "common/ManagerConfigFormat.h"

#include <cstdio>

#include "common/Atoi.h"
#include "platform/ProfileFile.h"

namespace korvane::common {

std::string hubSectionName(int hubNumber) {
  // "-2147483648" plus the terminating zero is the longest text %04d can give.
  char name[16];
  std::snprintf(name, sizeof name, "%04d", hubNumber);
  return name;
}

int hubNumberOfSection(std::string_view sectionName) {
  const int number = atoiLike(sectionName);
  return number > 0 ? number : 0;
}

std::vector<int> listHubNumbers(const std::string& path, std::size_t capacity) {
  std::vector<int> hubs;
  for (const std::string& section :
       platform::profile::readSectionNames(path, kSectionListBufferSize)) {
    if (hubs.size() >= capacity) {
      break;
    }
    if (const int number = hubNumberOfSection(section); number > 0) {
      hubs.push_back(number);
    }
  }
  return hubs;
}

std::string blockDhcpKey(std::string_view domain) {
  if (domain.empty() || domain == kGlobalDomainName) {
    return std::string(kBlockDhcpKey);
  }
  return std::string(kBlockDhcpKey) + "@" + std::string(domain);
}

char splitterFromValue(std::string_view value) {
  if (value.empty() || value == kNoneText) {
    return kNoSplitter;
  }
  return value.front();
}

}  // namespace korvane::common
