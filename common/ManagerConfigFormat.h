#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// The layout of the manager configuration file ini/Tollmar.ini that the panel writes and the
/// manager and the hubs read: one section per hub named by its four-digit number, plus the
/// sections SYSTEM and FIREWALL.
namespace korvane::common {

inline constexpr std::string_view kSystemSection = "SYSTEM";
inline constexpr std::string_view kFirewallSection = "FIREWALL";

inline constexpr std::string_view kHubNameKey = "HubName";
inline constexpr std::string_view kStatusKey = "Status";
inline constexpr std::string_view kPortNoKey = "PortNo";
inline constexpr std::string_view kAuthFlagKey = "AuthFlag";
inline constexpr std::string_view kMaxConKey = "MaxCon";
inline constexpr std::string_view kSnatPortKey = "SNATPort";
inline constexpr std::string_view kGarbageMonthsKey = "GarbageMonths";
inline constexpr std::string_view kGarbageDaysKey = "GarbageDays";
inline constexpr std::string_view kBlockDhcpKey = "BlockDHCP";
inline constexpr std::string_view kDomainSplitterKey = "DomainSplitter";
inline constexpr std::string_view kPassCodeKey = "DNSUpdatePassCode";
inline constexpr std::string_view kAutoSettingKey = "AutoSetting";

inline constexpr std::string_view kStatusOn = "ON";
inline constexpr std::string_view kStatusOff = "OFF";

/// What a missing key reads as where absence must be told apart from any stored value.
inline constexpr std::string_view kNoneText = "<NONE>";

/// The splitter held when there is none: no account name contains a carriage return.
inline constexpr char kNoSplitter = '\r';

/// The name under which the panel shows the global domain (domain index 0).
inline constexpr std::string_view kGlobalDomainName = "-Global-";

/// Hub numbers that fit the four-digit section, file and pipe names.
inline constexpr int kMinHubNumber = 1;
inline constexpr int kMaxHubNumber = 9999;

/// How many hub numbers a listing holds unless the caller asks for fewer: the panel's list of
/// 1024 entries, far beyond the 33 hubs that can be created.
inline constexpr std::size_t kHubListCapacity = 1024;

/// How many bytes the section-name list may take: room for more than 10000 four-digit section
/// names, far beyond the 33 hubs the panel creates, so a hand-edited file still lists whole.
inline constexpr std::size_t kSectionListBufferSize = 65536;

/// The section of hub `hubNumber`, printed with four digits ("0003").
std::string hubSectionName(int hubNumber);

/// The hub number that a section name stands for: its leading digits read as a decimal number;
/// 0 (not a hub section) when that number is not greater than 0.
int hubNumberOfSection(std::string_view sectionName);

/// The numbers of all hub sections of the file at `path`, in file order, at most `capacity` of
/// them; empty when the file is missing or empty.
std::vector<int> listHubNumbers(const std::string& path, std::size_t capacity);

/// The key that holds the DHCP block flag of `domain`: "BlockDHCP" for the global domain (the
/// empty name or "-Global-"), "BlockDHCP@<domain>" for any other.
std::string blockDhcpKey(std::string_view domain);

/// The splitter character a stored DomainSplitter value stands for: its first character, or
/// carriage return for "<NONE>" and for an empty value.
char splitterFromValue(std::string_view value);

}  // namespace korvane::common
