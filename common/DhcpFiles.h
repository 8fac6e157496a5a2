#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

/// How a hub's DHCP settings file and lease files name a domain; the hub reads them, the panel
/// reads the settings for its hub list and deletes the leases.
namespace korvane::common {

/// The key of a settings section that switches its domain's service on, and the one value that
/// does.
inline constexpr std::string_view kDhcpFlagKey = "DHCPFlag";
inline constexpr std::string_view kDhcpFlagOn = "TRUE";
inline constexpr std::string_view kDhcpFlagOff = "FALSE";
/// The other keys of a settings section; the lease time's key is spelled so in every file.
inline constexpr std::string_view kDhcpLowerKey = "LowerAddress";
inline constexpr std::string_view kDhcpUpperKey = "UpperAddress";
inline constexpr std::string_view kDhcpMaskKey = "SubNetMask";
inline constexpr std::string_view kDhcpLeaseTimeKey = "ReaseTime";
inline constexpr std::string_view kDhcpNetworkKeyKey = "Net";

/// Lease time in seconds when the settings name none: three days.
inline constexpr int kDefaultDhcpLeaseSeconds = 259200;
/// A setting is read into a 128-byte buffer, as the hub reads it: at most 127 characters.
inline constexpr std::size_t kDhcpSettingBufferBytes = 128;

/// Section names and lease file names hold at most this many bytes of a domain's text.
inline constexpr std::size_t kDomainTextMaxBytes = 127;

/// The text of `domain` as it names its settings section and its lease file: UTF-8, cut to
/// kDomainTextMaxBytes bytes; std::nullopt when it holds an unpaired surrogate.
std::optional<std::string> domainFileText(std::u16string_view domain);

/// The section of the DHCP settings file that holds `domainText`'s settings: "DHCP" for the
/// global domain (empty text), "DHCP@<domain>" for any other.
std::string dhcpSettingsSection(std::string_view domainText);

/// The DHCP settings file name of hub `hubNumber`: "%04d_dhcp.ini".
std::string dhcpSettingsFileName(int hubNumber);

/// The lease file name of `domainText` in hub `hubNumber`: "%04d_%s_dhcp.leases".
std::string dhcpLeaseFileName(int hubNumber, std::string_view domainText);

}  // namespace korvane::common
