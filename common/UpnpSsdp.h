#pragma once

#include <optional>
#include <string>
#include <string_view>

// SSDP discovery of a router's port-mapping service: the search datagrams and the reading of the
// answer.
namespace korvane::common {

/// The SSDP multicast group and port that routers listen on.
inline constexpr std::string_view kSsdpGroup = "239.255.255.250";
inline constexpr int kSsdpPort = 1900;
/// At most this much of an answer datagram is read; the rest is cut off.
inline constexpr std::size_t kMaxSsdpAnswerBytes = 4095;

/// The two connection services a router may offer for port mappings.
enum class UpnpServiceKind { kNone, kPpp, kIp };

/// The search datagram for `serviceType` ("WANPPPConnection:1" or "WANIPConnection:1").
std::string ssdpSearchMessage(std::string_view serviceType);

/// What a discovery answer tells: where the device description lies, and which service the
/// router says it answered for (a hint only: the description decides).
struct SsdpAnswer {
  std::string location;
  UpnpServiceKind kind = UpnpServiceKind::kNone;
};

/// Reads an SSDP answer datagram. Empty with a message in `err` when its status is not 200, or
/// it has no Location.
std::optional<SsdpAnswer> parseSsdpAnswer(std::string_view datagram, std::string* err);

/// The kind named by a service type text of any version ("...:WANIPConnection:2" is kIp).
UpnpServiceKind serviceKindOf(std::string_view serviceType);

}  // namespace korvane::common
