#pragma once

#include <optional>
#include <string>
#include <string_view>

// The SOAP actions of a router's connection service, sent byte for byte as routers have long
// accepted them, and the reading of their answers.
namespace korvane::common {

/// The four actions the port mapping uses.
enum class UpnpAction {
  kAddPortMapping,
  kDeletePortMapping,
  kGetSpecificPortMappingEntry,
  kGetExternalIPAddress,
};

/// The arguments of AddPortMapping.
struct PortMappingRequest {
  int externalPort = 0;
  int internalPort = 0;
  std::string protocol = "TCP";
  std::string internalClient;  ///< dotted IPv4
  std::string description;
  long leaseSeconds = 0;  ///< 0: as long as the router keeps it
};

/// The mapping description of `port`: "Korvane_5000".
std::string mappingDescription(int port);

/// The action's name as it follows the "#" of the SoapAction header.
std::string_view actionName(UpnpAction action);

/// The envelope for AddPortMapping on `serviceType` (the whole type, "urn:...:WANIPConnection:2").
std::string addPortMappingBody(std::string_view serviceType, const PortMappingRequest& request);
/// The envelope for DeletePortMapping or GetSpecificPortMappingEntry of a port and protocol.
std::string portEntryBody(UpnpAction action, std::string_view serviceType, int externalPort,
                          std::string_view protocol);
/// The envelope for GetExternalIPAddress.
std::string externalAddressBody(std::string_view serviceType);

/// The request head for `action`, to be sent at once followed by `bodyLength` bytes of body.
std::string soapRequestHead(UpnpAction action, std::string_view path, std::string_view serviceType,
                            std::string_view hostPart, std::size_t bodyLength);

/// The text of the first element `name` (any namespace prefix) in `xml`; empty when there is
/// none. Entities are not decoded: the values read are numbers and addresses.
std::optional<std::string> xmlElementText(std::string_view xml, std::string_view name);

/// The UPnP error code of a SOAP fault answer (718 for a conflicting mapping), 0 when none.
int soapFaultCode(std::string_view body);

}  // namespace korvane::common
