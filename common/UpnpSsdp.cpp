#include "common/UpnpSsdp.h"

#include "common/UpnpHttp.h"

namespace korvane::common {

std::string ssdpSearchMessage(std::string_view serviceType) {
  return "M-SEARCH * HTTP/1.1\r\nMX: 3\r\nHOST: 239.255.255.250:1900\r\nMAN: "
         "\"ssdp:discover\"\r\nST: urn:schemas-upnp-org:service:" +
         std::string(serviceType) + "\r\n\r\n";
}

UpnpServiceKind serviceKindOf(std::string_view serviceType) {
  if (serviceType.find("WANPPPConnection:") != std::string_view::npos) {
    return UpnpServiceKind::kPpp;
  }
  if (serviceType.find("WANIPConnection:") != std::string_view::npos) {
    return UpnpServiceKind::kIp;
  }
  return UpnpServiceKind::kNone;
}

std::optional<SsdpAnswer> parseSsdpAnswer(std::string_view datagram, std::string* err) {
  datagram = datagram.substr(0, kMaxSsdpAnswerBytes);
  // A datagram is whole: its head ends with the datagram when the blank line is missing.
  HttpAnswerReader reader;
  std::string text(datagram);
  if (text.find("\r\n\r\n") == std::string::npos) {
    text += "\r\n\r\n";
  }
  if (reader.add(text) == HttpAnswerReader::State::kFailed) {
    *err = "discovery answer: " + reader.error();
    return std::nullopt;
  }
  if (reader.status() != 200) {
    *err = "discovery answer with status " + std::to_string(reader.status());
    return std::nullopt;
  }
  SsdpAnswer answer;
  answer.location = findHeader(reader.head(), "Location").value_or("");
  if (answer.location.empty()) {
    *err = "discovery answer without Location";
    return std::nullopt;
  }
  answer.kind = serviceKindOf(findHeader(reader.head(), "ST").value_or(""));
  return answer;
}

}  // namespace korvane::common
