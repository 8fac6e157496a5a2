#include "common/UpnpClient.h"

#include <array>
#include <charconv>
#include <span>

#include "common/UpnpSsdp.h"
#include "platform/TcpConnection.h"
#include "platform/UdpSocket.h"

namespace korvane::common {
namespace {

// Waits are cut into slices this long, so that a stop request ends an operation quickly.
constexpr std::chrono::milliseconds kStopCheckSlice{100};
// Answers are read in pieces of this size.
constexpr std::size_t kReadPieceBytes = 4095;
// UPnP error codes of the connection services that the mapping treats apart.
constexpr int kFaultInvalidArgs = 402;
constexpr int kFaultConflict = 718;
constexpr int kFaultNoSuchEntry = 714;
constexpr std::string_view kSearchedTypes[] = {"WANPPPConnection:1", "WANIPConnection:1"};
constexpr std::string_view kProtocol = "TCP";

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// True for a lease of fewer seconds left than kLeaseRenewBelow; 0 (unlimited) and text that is
// not a number (the router does not tell) are not.
bool leaseEndsSoon(std::string_view lease) {
  long seconds = 0;
  const auto [end, ec] = std::from_chars(lease.data(), lease.data() + lease.size(), seconds);
  return ec == std::errc() && end == lease.data() + lease.size() && seconds > 0 &&
         seconds < kLeaseRenewBelow.count();
}

bool isLoopback(std::uint32_t address) { return (address >> 24) == 127; }

// The addresses to search from when the router is not known yet: every adapter's, since a
// machine without a default route has no route for the multicast group.
std::vector<std::uint32_t> searchAddresses(const std::vector<platform::Adapter>& adapters) {
  std::vector<std::uint32_t> addresses;
  for (const auto& adapter : adapters) {
    for (const auto& ipv4 : adapter.ipv4) {
      if (ipv4.address != 0 && !isLoopback(ipv4.address)) {
        addresses.push_back(ipv4.address);
      }
    }
  }
  return addresses;
}

}  // namespace

std::optional<std::uint32_t> ownAddressFor(std::uint32_t router,
                                           const std::vector<platform::Adapter>& adapters) {
  for (const auto& adapter : adapters) {
    for (const auto& ipv4 : adapter.ipv4) {
      if (ipv4.address != 0 && (ipv4.address & ipv4.mask) == (router & ipv4.mask)) {
        return ipv4.address;
      }
    }
  }
  return std::nullopt;
}

std::string describeRefusal(UpnpAction action, const UpnpAnswer& answer) {
  const int fault = soapFaultCode(answer.body);
  return std::string(actionName(action)) + " refused by the router: " +
         (fault != 0 ? "SOAP fault " + std::to_string(fault)
                     : "status " + std::to_string(answer.status));
}

UpnpClient::UpnpClient(UpnpLimits limits, std::function<bool()> stopRequested,
                       const platform::Clock& clock)
    : limits_(limits), stopRequested_(std::move(stopRequested)), clock_(clock) {}

std::optional<std::string> UpnpClient::search(std::string* err) {
  std::string adapterError;
  const auto adapters = platform::listAdapters(&adapterError);
  std::uint32_t bindAddress = 0;
  std::vector<std::uint32_t> interfaces;
  if (const auto router = parseIpv4(routerCache_)) {
    if (const auto own = ownAddressFor(*router, adapters)) {
      bindAddress = *own;
      interfaces = {*own};
    }
  }
  if (interfaces.empty()) {
    interfaces = searchAddresses(adapters);
  }
  auto socket = platform::UdpSocket::open(bindAddress, err);
  if (!socket) {
    return std::nullopt;
  }
  const std::uint32_t group = *parseIpv4(kSsdpGroup);
  bool sent = false;
  const auto sendSearches = [&] {
    for (const auto type : kSearchedTypes) {
      sent = socket->sendTo(group, kSsdpPort, bytes(ssdpSearchMessage(type)), err) || sent;
    }
  };
  for (const std::uint32_t interface : interfaces) {
    if (socket->setMulticastInterface(interface, err)) {
      sendSearches();
    }
  }
  if (interfaces.empty()) {
    sendSearches();  // no adapter listed: leave the choice to the routing table
  }
  if (!sent) {
    *err = "the discovery search cannot be sent: " + *err;
    return std::nullopt;
  }
  std::array<std::uint8_t, kMaxSsdpAnswerBytes> buffer{};
  const platform::Tick start = clock_.tickCount();
  while (platform::ticksBetween(start, clock_.tickCount()) <
         static_cast<std::uint32_t>(limits_.discoveryWait.count())) {
    if (stopped()) {
      *err = "stopped";
      return std::nullopt;
    }
    std::size_t size = 0;
    switch (socket->receive(buffer, kStopCheckSlice, &size, err)) {
      case platform::UdpSocket::Received::kDatagram:
        return std::string(reinterpret_cast<const char*>(buffer.data()), size);
      case platform::UdpSocket::Received::kFailed:
        return std::nullopt;
      case platform::UdpSocket::Received::kTimedOut:
        break;
    }
  }
  *err = "no router answered the discovery search within " +
         std::to_string(limits_.discoveryWait.count() / 1000) + " s";
  return std::nullopt;
}

std::optional<UpnpAnswer> UpnpClient::exchange(const UpnpEndpoint& endpoint,
                                               const std::string& request,
                                               std::chrono::milliseconds firstWait,
                                               std::string* err) {
  const std::string where = ipv4Text(endpoint.address) + ":" + std::to_string(endpoint.port);
  // A router on the LAN answers a handshake at once; one that drops it is given the same time
  // as one piece of an answer.
  auto connection = platform::TcpConnection::connect(ipv4Text(endpoint.address), endpoint.port,
                                                     err, limits_.pieceWait);
  if (!connection) {
    return std::nullopt;
  }
  if (!connection->sendAll(bytes(request))) {
    *err = where + ": " + connection->lastError();
    return std::nullopt;
  }
  HttpAnswerReader reader;
  std::array<std::uint8_t, kReadPieceBytes> buffer{};
  const platform::Tick start = clock_.tickCount();
  std::chrono::milliseconds pieceLimit = firstWait;
  while (reader.state() == HttpAnswerReader::State::kNeedMore) {
    platform::Tick pieceStart = clock_.tickCount();
    bool readable = false;
    while (!readable) {
      if (stopped()) {
        *err = "stopped";
        return std::nullopt;
      }
      const auto now = clock_.tickCount();
      if (platform::ticksBetween(pieceStart, now) >= pieceLimit.count() ||
          platform::ticksBetween(start, now) >= limits_.answerWait.count()) {
        *err = where + ": the router's answer did not come in time";
        return std::nullopt;
      }
      readable = connection->waitReadable(kStopCheckSlice);
    }
    const long got = connection->receive(buffer);
    if (got < 0) {
      *err = where + ": " + connection->lastError();
      return std::nullopt;
    }
    if (got == 0) {
      reader.finish();
    } else {
      reader.add(std::string_view(reinterpret_cast<const char*>(buffer.data()),
                                  static_cast<std::size_t>(got)));
    }
    pieceLimit = limits_.pieceWait;
  }
  if (reader.state() == HttpAnswerReader::State::kFailed) {
    *err = where + ": " + reader.error();
    return std::nullopt;
  }
  return UpnpAnswer{reader.status(), std::string(reader.body())};
}

std::optional<UpnpRouter> UpnpClient::discover(std::string* err) {
  const auto datagram = search(err);
  if (!datagram) {
    return std::nullopt;
  }
  const auto answer = parseSsdpAnswer(*datagram, err);
  if (!answer) {
    return std::nullopt;
  }
  const auto location = splitUpnpUrl(answer->location, err);
  if (!location) {
    *err = "discovery answer: Location: " + *err;
    return std::nullopt;
  }
  const std::string request =
      "GET " + location->path + " HTTP/1.1\r\nHost: " + location->hostPart + "\r\n\r\n";
  const auto description = exchange(*location, request, limits_.descriptionWait, err);
  if (!description) {
    *err = "device description: " + *err;
    return std::nullopt;
  }
  if (description->status != 200) {
    *err = "device description: status " + std::to_string(description->status);
    return std::nullopt;
  }
  auto service = chooseUpnpService(description->body, *location, answer->kind, err);
  if (!service) {
    return std::nullopt;
  }
  UpnpRouter router{std::move(*service), ipv4Text(location->address), ""};
  routerCache_ = router.routerAddress;
  std::string adapterError;
  if (const auto own = ownAddressFor(location->address, platform::listAdapters(&adapterError))) {
    router.ownAddress = ipv4Text(*own);
  }
  return router;
}

std::optional<UpnpAnswer> UpnpClient::callAction(const UpnpRouter& router, UpnpAction action,
                                                 const std::string& body, std::string* err) {
  const UpnpEndpoint& control = router.service.control;
  const std::string request = soapRequestHead(action, control.path, router.service.serviceType,
                                              control.hostPart, body.size()) +
                              body;
  auto answer = exchange(control, request, limits_.pieceWait, err);
  if (!answer) {
    *err = std::string(actionName(action)) + ": " + *err;
  }
  return answer;
}

bool UpnpClient::sendMapping(const UpnpRouter& router, int port, int internalPort,
                             std::chrono::seconds lease, int* fault, std::string* err) {
  PortMappingRequest request;
  request.externalPort = port;
  request.internalPort = internalPort;
  request.internalClient = router.ownAddress;
  request.description = mappingDescription(port);
  request.leaseSeconds = static_cast<long>(lease.count());
  const auto answer = callAction(router, UpnpAction::kAddPortMapping,
                                 addPortMappingBody(router.service.serviceType, request), err);
  *fault = 0;
  if (!answer) {
    return false;
  }
  if (answer->status != 200) {
    *fault = soapFaultCode(answer->body);
    *err = describeRefusal(UpnpAction::kAddPortMapping, *answer);
    return false;
  }
  return true;
}

bool UpnpClient::addMapping(int port, int internalPort, std::string* err) {
  const auto router = discover(err);
  if (!router) {
    return false;
  }
  if (router->ownAddress.empty()) {
    *err = "this computer has no address in the subnet of the router " + router->routerAddress;
    return false;
  }
  int fault = 0;
  if (sendMapping(*router, port, internalPort, std::chrono::seconds(0), &fault, err)) {
    return true;
  }
  if (fault == kFaultInvalidArgs) {
    // Routers of the second device version may refuse an unlimited lease.
    return sendMapping(*router, port, internalPort, kFiniteLease, &fault, err);
  }
  if (fault != kFaultConflict) {
    return false;
  }
  // The port is mapped to another computer: take it over where the router lets us delete it.
  const std::string conflict = *err;
  const auto removed = callAction(
      *router, UpnpAction::kDeletePortMapping,
      portEntryBody(UpnpAction::kDeletePortMapping, router->service.serviceType, port, kProtocol),
      err);
  if (!removed || removed->status != 200) {
    *err = conflict + "; " +
           (removed ? describeRefusal(UpnpAction::kDeletePortMapping, *removed) : *err);
    return false;
  }
  return sendMapping(*router, port, internalPort, std::chrono::seconds(0), &fault, err);
}

UpnpCheck UpnpClient::checkMapping(int port, int internalPort, std::string* err) {
  const auto router = discover(err);
  if (!router) {
    return UpnpCheck::kFailed;
  }
  const auto answer =
      callAction(*router, UpnpAction::kGetSpecificPortMappingEntry,
                 portEntryBody(UpnpAction::kGetSpecificPortMappingEntry,
                               router->service.serviceType, port, kProtocol),
                 err);
  if (!answer) {
    return UpnpCheck::kFailed;
  }
  if (answer->status != 200) {
    *err = describeRefusal(UpnpAction::kGetSpecificPortMappingEntry, *answer);
    return soapFaultCode(answer->body) == kFaultNoSuchEntry ? UpnpCheck::kMissing
                                                            : UpnpCheck::kFailed;
  }
  const std::string client = xmlElementText(answer->body, "NewInternalClient").value_or("");
  const std::string internal = xmlElementText(answer->body, "NewInternalPort").value_or("");
  const std::string lease = xmlElementText(answer->body, "NewLeaseDuration").value_or("0");
  if (router->ownAddress.empty() || client != router->ownAddress) {
    *err = "the port is mapped to " + client;
    return UpnpCheck::kElsewhere;
  }
  if (internal != std::to_string(internalPort)) {
    *err = "the port is mapped to port " + internal + " of this computer";
    return UpnpCheck::kElsewhere;
  }
  if (leaseEndsSoon(lease)) {
    *err = "the mapping's lease ends in " + lease + " s";
    return UpnpCheck::kElsewhere;
  }
  return UpnpCheck::kMapped;
}

bool UpnpClient::deleteMapping(int port, std::string* err) {
  const auto router = discover(err);
  if (!router) {
    return false;
  }
  const auto answer = callAction(
      *router, UpnpAction::kDeletePortMapping,
      portEntryBody(UpnpAction::kDeletePortMapping, router->service.serviceType, port, kProtocol),
      err);
  if (!answer) {
    return false;
  }
  if (answer->status != 200) {
    *err = describeRefusal(UpnpAction::kDeletePortMapping, *answer);
    return false;
  }
  return true;
}

std::optional<std::string> UpnpClient::externalAddress(std::string* err) {
  const auto router = discover(err);
  if (!router) {
    return std::nullopt;
  }
  const auto answer = callAction(*router, UpnpAction::kGetExternalIPAddress,
                                 externalAddressBody(router->service.serviceType), err);
  if (!answer) {
    return std::nullopt;
  }
  if (answer->status != 200) {
    *err = describeRefusal(UpnpAction::kGetExternalIPAddress, *answer);
    return std::nullopt;
  }
  auto address = xmlElementText(answer->body, "NewExternalIPAddress");
  if (!address || !parseIpv4(*address)) {
    *err = "the router gave no external address";
    return std::nullopt;
  }
  return address;
}

}  // namespace korvane::common
