#include "common/UpnpSoap.h"

#include <charconv>

namespace korvane::common {
namespace {

constexpr std::string_view kServicePrefix = "urn:schemas-upnp-org:service:";
constexpr std::string_view kEnvelopeStart =
    "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body>";
constexpr std::string_view kEnvelopeEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n";
// An error code of more digits than this is not one.
constexpr std::size_t kMaxFaultCodeDigits = 6;

// The type as written after "urn:schemas-upnp-org:service:" in a SoapAction header, or the whole
// text when it does not start so.
std::string_view shortType(std::string_view serviceType) {
  return serviceType.substr(0, kServicePrefix.size()) == kServicePrefix
             ? serviceType.substr(kServicePrefix.size())
             : serviceType;
}

std::string envelope(const std::string& action) {
  return std::string(kEnvelopeStart) + action + std::string(kEnvelopeEnd);
}

std::string openAction(UpnpAction action, std::string_view serviceType) {
  return "<m:" + std::string(actionName(action)) + " xmlns:m=\"" + std::string(kServicePrefix) +
         std::string(shortType(serviceType)) + "\"";
}

}  // namespace

std::string mappingDescription(int port) { return "Korvane_" + std::to_string(port); }

std::string_view actionName(UpnpAction action) {
  switch (action) {
    case UpnpAction::kAddPortMapping:
      return "AddPortMapping";
    case UpnpAction::kDeletePortMapping:
      return "DeletePortMapping";
    case UpnpAction::kGetSpecificPortMappingEntry:
      return "GetSpecificPortMappingEntry";
    case UpnpAction::kGetExternalIPAddress:
      return "GetExternalIPAddress";
  }
  return "";
}

std::string addPortMappingBody(std::string_view serviceType, const PortMappingRequest& request) {
  return envelope(openAction(UpnpAction::kAddPortMapping, serviceType) +
                  "><NewRemoteHost></NewRemoteHost><NewExternalPort>" +
                  std::to_string(request.externalPort) + "</NewExternalPort><NewProtocol>" +
                  request.protocol + "</NewProtocol><NewInternalPort>" +
                  std::to_string(request.internalPort) + "</NewInternalPort><NewInternalClient>" +
                  request.internalClient + "</NewInternalClient><NewEnabled>1</NewEnabled>" +
                  "<NewPortMappingDescription>" + request.description +
                  "</NewPortMappingDescription><NewLeaseDuration>" +
                  std::to_string(request.leaseSeconds) + "</NewLeaseDuration></m:AddPortMapping>");
}

std::string portEntryBody(UpnpAction action, std::string_view serviceType, int externalPort,
                          std::string_view protocol) {
  return envelope(openAction(action, serviceType) +
                  "><NewRemoteHost></NewRemoteHost><NewExternalPort>" +
                  std::to_string(externalPort) + "</NewExternalPort><NewProtocol>" +
                  std::string(protocol) + "</NewProtocol></m:" + std::string(actionName(action)) +
                  ">");
}

std::string externalAddressBody(std::string_view serviceType) {
  return envelope(openAction(UpnpAction::kGetExternalIPAddress, serviceType) + "/>");
}

std::string soapRequestHead(UpnpAction action, std::string_view path, std::string_view serviceType,
                            std::string_view hostPart, std::size_t bodyLength) {
  return "POST " + std::string(path) +
         " HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate\r\nSoapAction: " +
         std::string(kServicePrefix) + std::string(shortType(serviceType)) + "#" +
         std::string(actionName(action)) + "\r\nHost: " + std::string(hostPart) +
         "\r\nContent-Length: " + std::to_string(bodyLength) +
         "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: Keep-Alive\r\n"
         "Cache-Control: no-cache\r\n\r\n";
}

std::optional<std::string> xmlElementText(std::string_view xml, std::string_view name) {
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string_view::npos) {
    const std::size_t close = xml.find('>', at);
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    std::string_view tag = xml.substr(at + 1, close - at - 1);
    at = close + 1;
    if (tag.empty() || tag.front() == '/' || tag.back() == '/') {
      continue;
    }
    tag = tag.substr(0, tag.find_first_of(" \t\r\n"));
    const std::size_t colon = tag.find(':');
    if ((colon == std::string_view::npos ? tag : tag.substr(colon + 1)) != name) {
      continue;
    }
    const std::size_t end = xml.find("</", at);
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    return std::string(xml.substr(at, end - at));
  }
  return std::nullopt;
}

int soapFaultCode(std::string_view body) {
  const auto code = xmlElementText(body, "errorCode");
  if (!code || code->empty() || code->size() > kMaxFaultCodeDigits) {
    return 0;
  }
  int value = 0;
  const auto [end, ec] = std::from_chars(code->data(), code->data() + code->size(), value);
  return ec == std::errc() && end == code->data() + code->size() ? value : 0;
}

}  // namespace korvane::common
