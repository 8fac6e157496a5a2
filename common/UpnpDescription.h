#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/UpnpHttp.h"
#include "common/UpnpSsdp.h"

// The router's device description: which connection service to talk to, and where.
namespace korvane::common {

/// The service chosen from a description, with the address its SOAP requests go to.
struct UpnpService {
  std::string serviceType;  ///< as the description writes it ("urn:...:WANIPConnection:2")
  UpnpEndpoint control;     ///< host, port and path of its control URL
};

/// Chooses the port-mapping service from the description `xml` fetched from `location`: a
/// WANIPConnection or WANPPPConnection service of any version, the kind `preferred` when the
/// description lists one, else the first listed. Its control URL is resolved against URLBase,
/// or against `location` when there is none. Empty with a message in `err` when the description
/// lists no such service or its control URL cannot be used.
std::optional<UpnpService> chooseUpnpService(std::string_view xml, const UpnpEndpoint& location,
                                             UpnpServiceKind preferred, std::string* err);

}  // namespace korvane::common
