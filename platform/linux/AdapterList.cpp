#include "platform/AdapterList.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>

namespace korvane::platform {
namespace {

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

bool pathExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

// The type the kernel gives the interface (ARPHRD_*); a radio reports Ethernet framing, so its
// wireless folder tells it apart.
AdapterType adapterType(const std::string& name) {
  const std::string folder = "/sys/class/net/" + name + "/";
  std::ifstream in(folder + "type");
  int hardwareType = -1;
  if (!(in >> hardwareType)) {
    return AdapterType::kOther;
  }
  if (hardwareType == ARPHRD_PPP) {
    return AdapterType::kPpp;
  }
  if (hardwareType != ARPHRD_ETHER) {
    return AdapterType::kOther;
  }
  if (pathExists(folder + "wireless") || pathExists(folder + "phy80211")) {
    return AdapterType::kWireless;
  }
  return AdapterType::kEthernet;
}

}  // namespace

std::vector<Adapter> listAdapters(std::string* err) {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) {
    if (err != nullptr) {
      *err = std::string("getifaddrs: ") + std::strerror(errno);
    }
    return {};
  }
  std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
  std::map<unsigned, Adapter> byIndex;
  for (const ifaddrs* entry = raw; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) {
      continue;
    }
    const unsigned index = ::if_nametoindex(entry->ifa_name);
    if (index == 0) {
      continue;
    }
    Adapter& adapter = byIndex[index];
    if (adapter.index == 0) {
      adapter.index = index;
      adapter.name = entry->ifa_name;
      adapter.type = adapterType(adapter.name);
    }
    if (entry->ifa_addr == nullptr) {
      continue;
    }
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      sockaddr_ll link{};
      std::memcpy(&link, entry->ifa_addr, sizeof link);
      const std::size_t length = std::min<std::size_t>(link.sll_halen, sizeof link.sll_addr);
      adapter.hardwareAddress.assign(link.sll_addr, link.sll_addr + length);
    } else if (entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in address{};
      sockaddr_in mask{};
      std::memcpy(&address, entry->ifa_addr, sizeof address);
      if (entry->ifa_netmask != nullptr) {
        std::memcpy(&mask, entry->ifa_netmask, sizeof mask);
      }
      adapter.ipv4.push_back({ntohl(address.sin_addr.s_addr), ntohl(mask.sin_addr.s_addr)});
    }
  }
  std::vector<Adapter> adapters;
  for (auto& [index, adapter] : byIndex) {
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

}  // namespace korvane::platform
