// libFuzzer target for the parsers of what a router sends: a discovery answer, an HTTP answer fed
// in pieces, a device description and SOAP answers. Whatever the bytes, each parser must end with
// a clean refusal or a result within its limits; a broken invariant aborts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/UpnpDescription.h"
#include "common/UpnpHttp.h"
#include "common/UpnpSoap.h"
#include "common/UpnpSsdp.h"

namespace {

using namespace korvane::common;

void check(bool holds, const char* invariant) {
  if (!holds) {
    std::fprintf(stderr, "UPnP parser invariant broken: %s\n", invariant);
    std::abort();
  }
}

void fuzzHttpAnswer(std::string_view data) {
  HttpAnswerReader reader;
  // The first byte chooses the piece size, so that answers split anywhere are tried.
  const std::size_t piece = data.empty() ? 1 : 1 + static_cast<unsigned char>(data[0]) % 64;
  for (std::size_t at = 0; at < data.size() && reader.state() == HttpAnswerReader::State::kNeedMore;
       at += piece) {
    reader.add(data.substr(at, piece));
  }
  reader.finish();
  check(reader.state() != HttpAnswerReader::State::kNeedMore, "the end of the stream decides");
  if (reader.state() == HttpAnswerReader::State::kComplete) {
    check(reader.body().size() <= kMaxUpnpAnswerBytes, "the body stays within the limit");
    check(reader.status() >= 100 && reader.status() <= 999, "a complete answer has a status");
  } else {
    check(!reader.error().empty(), "a refusal says why");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  std::string err;
  if (const auto answer = parseSsdpAnswer(data, &err)) {
    check(!answer->location.empty(), "an accepted discovery answer has a Location");
    if (const auto location = splitUpnpUrl(answer->location, &err)) {
      check(location->port >= 1 && location->port <= 65535, "a URL's port is a port");
    }
  }
  fuzzHttpAnswer(data);
  UpnpEndpoint base;
  base.hostPart = "192.168.1.1:5000";
  base.address = 0xC0A80101;
  base.port = 5000;
  base.path = "/desc/root.xml";
  if (const auto service = chooseUpnpService(data, base, UpnpServiceKind::kIp, &err)) {
    check(serviceKindOf(service->serviceType) != UpnpServiceKind::kNone, "a usable service");
    check(service->control.path.size() <= kMaxUpnpUrlLength, "the control path is bounded");
  }
  (void)soapFaultCode(data);
  (void)xmlElementText(data, "NewExternalIPAddress");
  return 0;
}
