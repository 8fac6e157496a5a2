#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/SealedField.h"

/// One domain's section of a hub's DHCP settings file ("%04d_dhcp.ini"), as the panel and kvctl
/// read and write it; the hub reads the same keys (hub/DhcpService.cpp).
namespace korvane::common {

/// What the panel writes for `Net` when a domain has no key: the hub reads its missing digits as
/// 0, so every domain without a key has the same one.
inline constexpr std::string_view kNoNetworkKeyText = "0000000000000000000000";

/// A domain's stored settings; a missing address key reads as an empty text.
struct DhcpDomainSettings {
  bool serviceOn = false;  ///< DHCPFlag is exactly "TRUE"
  std::string lowerAddress;
  std::string upperAddress;
  std::string subnetMask;
  std::optional<int> leaseSeconds;  ///< ReaseTime as stored (leading decimal digits), if any
  bool keyStored = false;           ///< a Net other than the no-key text is stored
};

/// What happens to a domain's network key on a write.
enum class NetworkKeyChange {
  kKeep,   ///< the stored key (or none) stays as it is
  kClear,  ///< the no-key text is written
  kSet,    ///< the new key is sealed and written
};

/// One write of a domain's settings.
struct DhcpSettingsWrite {
  bool serviceOn = false;
  std::string lowerAddress;
  std::string upperAddress;
  std::string subnetMask;
  int leaseSeconds = 0;  ///< 0 is written as the default, kDefaultDhcpLeaseSeconds
  NetworkKeyChange keyChange = NetworkKeyChange::kKeep;
  NetworkKey key{};  ///< the plain key bytes, for kSet
};

/// The settings of `domainText` ("" for the global domain) in the settings file at `path`; a
/// missing file or section reads as nothing stored. std::nullopt with a message in `err` when
/// the file exists but cannot be read.
std::optional<DhcpDomainSettings> readDhcpSettings(const std::string& path,
                                                   std::string_view domainText, std::string* err);

/// Writes `settings` into the section of `domainText` in one replacement of the file, keys in
/// the order DHCPFlag, LowerAddress, UpperAddress, SubNetMask, Net, ReaseTime. False with a
/// message in `err`, and the file unchanged, when a text would not read back as written or the
/// file cannot be written.
[[nodiscard]] bool writeDhcpSettings(const std::string& path, std::string_view domainText,
                                     const DhcpSettingsWrite& settings, std::string* err);

}  // namespace korvane::common
