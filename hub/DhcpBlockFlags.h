#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace korvane::hub {

class AccountStore;

/// Domains a hub tells apart for its DHCP block flags (domain indexes 0..999).
inline constexpr int kMaxDomains = 1000;

/// The BlockDHCP flag per domain index, as DhcpDomains keeps it: 1 blocks, 0 does not.
using BlockFlags = std::array<int, kMaxDomains>;

/// The key of the manager configuration file that holds the BlockDHCP flag of domain
/// `domainIndex` named `domainText` (UTF-8): "BlockDHCP" for domain 0, "BlockDHCP@<domain>" for
/// any other, even when its text is empty.
std::string blockDhcpKeyOf(int domainIndex, std::string_view domainText);

/// The BlockDHCP flags of hub `hubNumber` from the manager configuration file at `path`, for the
/// domains `domainNames` (UTF-16, position = domain index; position 0, the global domain, is not
/// looked at): a flag is set when its value is exactly "1". Domains beyond the list, and those
/// of index kMaxDomains and above, are not blocked; a missing file or key blocks nothing, and a
/// domain name that is not valid UTF-16 has no key and is not blocked.
BlockFlags readBlockFlags(const std::string& path, int hubNumber,
                          std::span<const std::u16string> domainNames);

/// Re-reads every BlockDHCP flag of hub `hubNumber` into `flags` from the manager configuration
/// file in `iniDirectory`, for domain indexes 0 to the highest of `accounts`; every other flag
/// is cleared. Without an account store only the global domain's flag is read.
void loadBlockFlags(BlockFlags& flags, const std::string& iniDirectory, int hubNumber,
                    const AccountStore* accounts);

}  // namespace korvane::hub
