#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/DottedAddress.h"

/// A hub's filter file "%04d_hosts.ini": one section per rule, in the order the hub applies them
/// (the last matching rule decides). The section name is the rule's name; an address rule has
/// IPADDRESS and MASK (dotted quads), a host name rule HOSTNAME (a text looked for in the
/// client's host name); both have ALLOW ("TRUE" allows, anything else refuses). The panel and
/// kvctl write the file whole; the hub and the panel read it with the rules below.
namespace korvane::common {

/// Bytes of the section-name list read from the filter file.
inline constexpr std::size_t kFilterSectionListBytes = 768000;
/// A rule's name is kept in a 256-byte buffer: at most 255 bytes of the section name.
inline constexpr std::size_t kFilterRuleNameBufferBytes = 256;
/// Addresses, masks and ALLOW are read into a 32-byte buffer, so each keeps at most 31
/// characters; the hub compares host names by as many (HostFilter).
inline constexpr std::size_t kFilterValueBufferBytes = 32;
/// Host names are read with room for 255 bytes, so that a host name the panel saved (up to 128
/// bytes) comes back whole even though the hub compares only its first 31.
inline constexpr std::size_t kFilterHostNameBufferBytes = 256;

enum class FilterRuleKind {
  kHostName = 0,  ///< matches when the host name text occurs in the client's host name
  kAddress = 1,   ///< matches when the client's address and the rule's agree under the mask
};

/// One rule of a hub's connection filter.
struct FilterRule {
  std::string name;  ///< the section name, unique within the hub regardless of letter case
  FilterRuleKind kind = FilterRuleKind::kHostName;
  std::string hostName;   ///< for kHostName
  Ipv4Address address{};  ///< for kAddress
  Ipv4Address mask{};     ///< for kAddress
  bool allow = false;     ///< true: the rule admits the clients it matches; false: refuses them

  bool operator==(const FilterRule&) const = default;
};

/// The path of hub `hubNumber`'s filter file in `iniDirectory`.
std::string filterFilePath(const std::string& iniDirectory, int hubNumber);

/// The rules of a filter file's text, in file order. A section is no rule, and is left out
/// without a word, when it has neither IPADDRESS nor HOSTNAME, an IPADDRESS without MASK, no
/// ALLOW, or an address or mask that is not a dotted quad (parseDottedQuad); an address rule
/// ignores a HOSTNAME beside it.
std::vector<FilterRule> parseFilterFile(std::string_view text);

/// The filter file holding `rules`, each in one of the forms "[name]\r\nIPADDRESS=a\r\nMASK=m\r\n
/// ALLOW=TRUE|FALSE\r\n" and "[name]\r\nHOSTNAME=h\r\nALLOW=TRUE|FALSE\r\n". The names and host
/// names must be writable (the panel's FilterModel checks them).
std::string formatFilterFile(std::span<const FilterRule> rules);

/// Whether two rule names are the same section name: ASCII letters compare without case.
bool sameRuleName(std::string_view a, std::string_view b);

}  // namespace korvane::common
