#pragma once

#include <memory>
#include <string>

#include "platform/TcpConnection.h"

namespace korvane::hub {

class NameLookupPool;
class SocketPort;

/// Host name shown for clients on the local network, which are not looked up.
inline constexpr const char* kLanHostName = "LAN";

/// Whether `peer` is on a local network: a private IPv4 address (10/8, 172.16/12, 192.168/16)
/// or an IPv6 link-local address (fe80::/64).
bool isLanPeer(const platform::PeerAddress& peer);

/// The host name the hub shows for `peer`: "LAN" for a local peer, else the name a reverse
/// lookup finds (which may take long), else "unknown".
std::string hostNameForPeer(const platform::PeerAddress& peer);

/// The name lookup of a new connection: gives `port` its host name, which also rebuilds its log
/// name and wakes its port thread.
void resolvePortName(const std::shared_ptr<SocketPort>& port);

/// Gives a new connection's `port` its host name without blocking: "LAN" at once for a local
/// peer, else by a lookup on one of the threads of `lookups`, or "unknown" at once when all of
/// them are busy and their queue is full.
void namePort(const std::shared_ptr<SocketPort>& port, NameLookupPool& lookups);

}  // namespace korvane::hub
