#pragma once

/// The numbers of the resource library's strings that the hub settings dialog and its router
/// port mapping dialog show.
namespace korvane::panel::text {

inline constexpr int kHubNameTaken = 3;
inline constexpr int kHubPortTaken = 4;
inline constexpr int kBadLowerAddress = 50;
inline constexpr int kBadUpperAddress = 51;
inline constexpr int kBadSubnetMask = 52;
inline constexpr int kBadKey = 53;
inline constexpr int kBadMaxConnections = 71;
inline constexpr int kBadPortNumber = 73;
inline constexpr int kMappingNotSet = 74;  ///< status text: the router has no mapping
inline constexpr int kMappingSet = 75;     ///< status text: the router maps the port already
inline constexpr int kMappingNotRemoved = 76;
inline constexpr int kMappingNotAdded = 77;
inline constexpr int kAskingRouter = 197;  ///< status text while the router has not answered

}  // namespace korvane::panel::text
