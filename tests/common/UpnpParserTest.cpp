#include <gtest/gtest.h>

#include <string>

#include "common/UpnpClient.h"
#include "common/UpnpDescription.h"
#include "common/UpnpHttp.h"
#include "common/UpnpSoap.h"
#include "common/UpnpSsdp.h"

namespace korvane::common {
namespace {

// A router's discovery answer as recorded: it answered the WANPPPConnection:1 search although its
// description lists only WANIPConnection:2.
constexpr std::string_view kRecordedSsdpAnswer =
    "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: "
    "urn:schemas-upnp-org:service:WANPPPConnection:1\r\nUSN: "
    "uuid:8a1e229a-8d13-422f-8557-3bfd98bad8be::urn:schemas-upnp-org:service:WANPPPConnection:1\r\n"
    "EXT:\r\nSERVER: Debian UPnP/1.1\r\nLOCATION: http://192.168.77.1:38551/rootDesc.xml\r\n"
    "OPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n01-NLS: 1796762724\r\n\r\n";

// The service part of a second-version gateway description, without URLBase.
constexpr std::string_view kIgd2Description =
    "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>"
    "urn:schemas-upnp-org:device:InternetGatewayDevice:2</deviceType><serviceList><service>"
    "<serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType><controlURL>/ctl/"
    "L3F</controlURL></service></serviceList><deviceList><device><deviceList><device><serviceList>"
    "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:2</serviceType><serviceId>"
    "urn:upnp-org:serviceId:WANIPConn1</serviceId><controlURL>/ctl/IPConn</controlURL>"
    "</service></serviceList></device></deviceList></device></deviceList></device></root>";

UpnpEndpoint location() {
  std::string err;
  return *splitUpnpUrl("http://192.168.77.1:38551/rootDesc.xml", &err);
}

TEST(UpnpSsdp, SearchMessageIsByteExact) {
  EXPECT_EQ(ssdpSearchMessage("WANIPConnection:1"),
            "M-SEARCH * HTTP/1.1\r\nMX: 3\r\nHOST: 239.255.255.250:1900\r\nMAN: "
            "\"ssdp:discover\"\r\nST: urn:schemas-upnp-org:service:WANIPConnection:1\r\n\r\n");
}

TEST(UpnpSsdp, ReadsRecordedAnswerAndRefusesBadOnes) {
  std::string err;
  const auto answer = parseSsdpAnswer(kRecordedSsdpAnswer, &err);
  ASSERT_TRUE(answer) << err;
  EXPECT_EQ(answer->location, "http://192.168.77.1:38551/rootDesc.xml");
  EXPECT_EQ(answer->kind, UpnpServiceKind::kPpp);

  const std::string longLocation = "HTTP/1.1 200 OK\r\nLocation: http://192.168.1.1:80/" +
                                   std::string(5000, 'a') + "\r\n\r\n";
  const struct {
    std::string datagram;
    std::string error;
  } refused[] = {
      {"HTTP/1.1 404 Not Found\r\nLocation: http://1.2.3.4:5/\r\n\r\n", "status 404"},
      {"HTTP/1.1 200 OK\r\nST: x\r\n\r\n", "without Location"},
      {"NOTIFY * HTTP/1.1\r\n\r\n", "not an HTTP answer"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n", "announces a body"},
      // Cut at 4,095 bytes, a 5,000-character Location loses its end line and still parses; the
      // URL is then refused by its length.
      {longLocation, ""},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.datagram.substr(0, 60));
    err.clear();
    const auto parsed = parseSsdpAnswer(row.datagram, &err);
    if (row.error.empty()) {
      ASSERT_TRUE(parsed);
      EXPECT_FALSE(splitUpnpUrl(parsed->location, &err));
      EXPECT_NE(err.find("longer than"), std::string::npos) << err;
    } else {
      EXPECT_FALSE(parsed);
      EXPECT_NE(err.find(row.error), std::string::npos) << err;
    }
  }
}

TEST(UpnpHttp, SplitsRouterUrls) {
  const struct {
    std::string_view url;
    bool ok;
    int port;
    std::string_view path;
  } rows[] = {
      {"http://192.168.1.1:5000/rootDesc.xml", true, 5000, "/rootDesc.xml"},
      {"http://192.168.1.1/desc", true, kDefaultHttpPort, "/desc"},  // no port: HTTP's own
      {"http://192.168.1.1:49000", true, 49000, "/"},
      {"https://192.168.1.1:5000/x", false, 0, ""},
      {"http://router.local:5000/x", false, 0, ""},  // no name is looked up
      {"http://192.168.1.1:0/x", false, 0, ""},
      {"http://192.168.1.1:99999999999/x", false, 0, ""},
      {"http://192.168.1.256:80/x", false, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    std::string err;
    const auto endpoint = splitUpnpUrl(row.url, &err);
    ASSERT_EQ(endpoint.has_value(), row.ok) << err;
    if (row.ok) {
      EXPECT_EQ(endpoint->address, 0xC0A80101u);
      EXPECT_EQ(endpoint->port, row.port);
      EXPECT_EQ(endpoint->path, row.path);
    }
  }
}

// Feeds `answer` in pieces of `piece` bytes, then the end of the connection.
HttpAnswerReader readInPieces(std::string_view answer, std::size_t piece) {
  HttpAnswerReader reader;
  for (std::size_t at = 0; at < answer.size(); at += piece) {
    reader.add(answer.substr(at, piece));
  }
  reader.finish();
  return reader;
}

TEST(UpnpHttp, ReadsAnswersInPiecesAndRefusesUnboundedOnes) {
  const std::string body = "<x>1</x>";
  const std::string answer =
      "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 8\r\nServer: r\r\n\r\n" + body + "trailing";
  for (std::size_t piece : {1u, 7u, 4095u}) {
    SCOPED_TRACE(piece);
    const auto reader = readInPieces(answer, piece);
    ASSERT_EQ(reader.state(), HttpAnswerReader::State::kComplete) << reader.error();
    EXPECT_EQ(reader.status(), 200);
    EXPECT_EQ(reader.body(), body);
    EXPECT_EQ(findHeader(reader.head(), "server"), "r");
  }
  // Without Content-Length the answer ends with the connection.
  EXPECT_EQ(readInPieces("HTTP/1.1 500 Internal\r\n\r\n<fault/>", 5).body(), "<fault/>");

  const struct {
    std::string answer;
    std::string error;
  } refused[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n", "announces a body"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", "before its body"},
      {"HTTP/1.1 200 OK\r\nServer: r\r\n", "within its headers"},
      {"HTTP/1.1 200 OK\r\nX: " + std::string(kMaxUpnpHeadBytes, 'a'), "do not end"},
      {"HTTP/1.1 200 OK\r\n\r\n" + std::string(kMaxUpnpAnswerBytes, 'a'), "larger than"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", "chunked"},
      {"", "without answering"},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.answer.substr(0, 60));
    const auto reader = readInPieces(row.answer, 4095);
    ASSERT_EQ(reader.state(), HttpAnswerReader::State::kFailed);
    EXPECT_NE(reader.error().find(row.error), std::string::npos) << reader.error();
  }
}

TEST(UpnpDescription, ChoosesListedServiceOfAnyVersion) {
  std::string err;
  // The search answer named WANPPPConnection:1; the description lists only WANIPConnection:2.
  const auto service = chooseUpnpService(kIgd2Description, location(), UpnpServiceKind::kPpp, &err);
  ASSERT_TRUE(service) << err;
  EXPECT_EQ(service->serviceType, "urn:schemas-upnp-org:service:WANIPConnection:2");
  EXPECT_EQ(service->control.hostPart, "192.168.77.1:38551");  // bare path: the Location host
  EXPECT_EQ(service->control.path, "/ctl/IPConn");

  const std::string both =
      "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
      "<controlURL>/ip</controlURL></service><service><serviceType>urn:schemas-upnp-org:service:"
      "WANPPPConnection:1</serviceType><controlURL>/ppp</controlURL></service>";
  EXPECT_EQ(chooseUpnpService(both, location(), UpnpServiceKind::kPpp, &err)->control.path, "/ppp");
  EXPECT_EQ(chooseUpnpService(both, location(), UpnpServiceKind::kNone, &err)->control.path, "/ip");
}

TEST(UpnpDescription, ResolvesControlUrls) {
  const auto service = [](const std::string& urlBase, const std::string& control) {
    const std::string xml = urlBase + "<service><serviceType>urn:schemas-upnp-org:service:"
                                      "WANIPConnection:1</serviceType><controlURL>" +
                            control + "</controlURL></service>";
    std::string err;
    auto chosen = chooseUpnpService(xml, location(), UpnpServiceKind::kIp, &err);
    return chosen ? chosen->control.hostPart + chosen->control.path : "refused: " + err;
  };
  EXPECT_EQ(service("", "/ctl"), "192.168.77.1:38551/ctl");
  EXPECT_EQ(service("", "ctl/ip"), "192.168.77.1:38551/ctl/ip");
  EXPECT_EQ(service("<URLBase>http://192.168.77.1:5000/</URLBase>", "/ctl"),
            "192.168.77.1:5000/ctl");
  EXPECT_EQ(service("", "http://192.168.77.9:6000/upnp/ctl"), "192.168.77.9:6000/upnp/ctl");
  EXPECT_EQ(service("", "").substr(0, 8), "refused:");
  EXPECT_EQ(service("", "/" + std::string(5000, 'a')).substr(0, 8), "refused:");
  std::string err;
  EXPECT_FALSE(chooseUpnpService("<service><serviceType>urn:schemas-upnp-org:service:"
                                 "WANIPConnection:1</serviceType></service>",
                                 location(), UpnpServiceKind::kIp, &err));
  EXPECT_FALSE(chooseUpnpService(
      "<service><serviceType>urn:x:Layer3Forwarding:1</serviceType><controlURL>/a</controlURL>",
      location(), UpnpServiceKind::kIp, &err));
}

TEST(UpnpSoap, MessagesAreByteExact) {
  PortMappingRequest request{5000, 5000, "TCP", "192.168.1.20", mappingDescription(5000), 0};
  const std::string body = addPortMappingBody("WANIPConnection:1", request);
  EXPECT_EQ(body,
            "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://"
            "schemas.xmlsoap.org/soap/envelope/\" SOAP-ENV:encodingStyle=\"http://"
            "schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body><m:AddPortMapping xmlns:m=\"urn:"
            "schemas-upnp-org:service:WANIPConnection:1\"><NewRemoteHost></NewRemoteHost>"
            "<NewExternalPort>5000</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>"
            "5000</NewInternalPort><NewInternalClient>192.168.1.20</NewInternalClient><NewEnabled>"
            "1</NewEnabled><NewPortMappingDescription>Korvane_5000</NewPortMappingDescription>"
            "<NewLeaseDuration>0</NewLeaseDuration></m:AddPortMapping></SOAP-ENV:Body></"
            "SOAP-ENV:Envelope>\r\n");
  // The service type as the description gives it, whole, names the same service.
  EXPECT_EQ(externalAddressBody("urn:schemas-upnp-org:service:WANIPConnection:2"),
            externalAddressBody("WANIPConnection:2"));
  EXPECT_NE(externalAddressBody("WANIPConnection:2")
                .find("<m:GetExternalIPAddress xmlns:m=\"urn:schemas-upnp-org:service:"
                      "WANIPConnection:2\"/></SOAP-ENV:Body>"),
            std::string::npos);
  EXPECT_NE(portEntryBody(UpnpAction::kDeletePortMapping, "WANPPPConnection:1", 80, "TCP")
                .find("<m:DeletePortMapping xmlns:m=\"urn:schemas-upnp-org:service:"
                      "WANPPPConnection:1\"><NewRemoteHost></NewRemoteHost><NewExternalPort>80</"
                      "NewExternalPort><NewProtocol>TCP</NewProtocol></m:DeletePortMapping>"),
            std::string::npos);
  EXPECT_EQ(soapRequestHead(UpnpAction::kGetSpecificPortMappingEntry, "/ctl/IPConn",
                            "urn:schemas-upnp-org:service:WANIPConnection:2", "192.168.1.1:5000",
                            123),
            "POST /ctl/IPConn HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate\r\n"
            "SoapAction: urn:schemas-upnp-org:service:WANIPConnection:2#"
            "GetSpecificPortMappingEntry\r\nHost: 192.168.1.1:5000\r\nContent-Length: 123\r\n"
            "Content-Type: text/xml; charset=\"utf-8\"\r\nConnection: Keep-Alive\r\n"
            "Cache-Control: no-cache\r\n\r\n");
}

TEST(UpnpSoap, ReadsAnswersAndFaults) {
  const std::string entry =
      "<s:Envelope><s:Body><u:GetSpecificPortMappingEntryResponse><NewInternalPort>7000"
      "</NewInternalPort><NewInternalClient>192.168.77.2</NewInternalClient>"
      "</u:GetSpecificPortMappingEntryResponse></s:Body></s:Envelope>";
  EXPECT_EQ(xmlElementText(entry, "NewInternalClient"), "192.168.77.2");
  EXPECT_FALSE(xmlElementText(entry, "NewExternalIPAddress"));
  const std::string fault =
      "<s:Fault><faultcode>s:Client</faultcode><detail><UPnPError xmlns=\"urn:schemas-upnp-org:"
      "control-1-0\"><errorCode>718</errorCode><errorDescription>ConflictInMappingEntry"
      "</errorDescription></UPnPError></detail></s:Fault>";
  EXPECT_EQ(soapFaultCode(fault), 718);
  EXPECT_EQ(soapFaultCode("<errorCode>99999999999</errorCode>"), 0);
  EXPECT_EQ(describeRefusal(UpnpAction::kAddPortMapping, {500, fault}),
            "AddPortMapping refused by the router: SOAP fault 718");
}

TEST(UpnpClient, OwnAddressIsTheOneInTheRoutersSubnet) {
  std::vector<platform::Adapter> adapters(3);
  adapters[0].ipv4 = {{0x7F000001, 0xFF000000}};                          // loopback
  adapters[1].ipv4 = {{0, 0xFFFFFF00}, {0x0A000005, 0xFFFFFF00}};         // 10.0.0.5/24
  adapters[2].ipv4 = {{0xC0A84D02, 0xFFFFFF00}, {0xC0A84D03, 0xFFFFFF00}};  // 192.168.77.2, .3
  EXPECT_EQ(ownAddressFor(0xC0A84D01, adapters), 0xC0A84D02u);
  EXPECT_EQ(ownAddressFor(0x0A000001, adapters), 0x0A000005u);
  EXPECT_FALSE(ownAddressFor(0xAC100001, adapters));  // no adapter in 172.16.0.0/24
}

}  // namespace
}  // namespace korvane::common
