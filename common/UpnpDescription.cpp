#include "common/UpnpDescription.h"

#include "common/UpnpSoap.h"

namespace korvane::common {
namespace {

struct ListedService {
  std::string type;
  std::string controlUrl;
};

// The next <service> element's type and control URL from `at` on; empty when none is left.
std::optional<ListedService> nextService(std::string_view xml, std::size_t* at) {
  constexpr std::string_view kOpen = "<service>";
  constexpr std::string_view kClose = "</service>";
  const std::size_t start = xml.find(kOpen, *at);
  if (start == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t end = xml.find(kClose, start);
  if (end == std::string_view::npos) {
    *at = xml.size();
    return std::nullopt;
  }
  *at = end + kClose.size();
  const std::string_view block = xml.substr(start, end - start);
  return ListedService{xmlElementText(block, "serviceType").value_or(""),
                       xmlElementText(block, "controlURL").value_or("")};
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The control URL made absolute: an http URL stands as it is; a path starting with "/" goes to
// the base's host; any other is relative to the base path's folder.
std::optional<UpnpEndpoint> resolve(std::string_view url, const UpnpEndpoint& base,
                                    std::string* err) {
  if (url.empty()) {
    *err = "the service has no control URL";
    return std::nullopt;
  }
  if (url.substr(0, 7) == "http://") {
    return splitUpnpUrl(url, err);
  }
  std::string path;
  if (url.front() == '/') {
    path = std::string(url);
  } else {
    path = base.path.substr(0, base.path.rfind('/') + 1) + std::string(url);
  }
  if (path.size() > kMaxUpnpUrlLength) {
    *err = "the control URL is longer than " + std::to_string(kMaxUpnpUrlLength) + " characters";
    return std::nullopt;
  }
  UpnpEndpoint resolved = base;
  resolved.path = path;
  return resolved;
}

}  // namespace

std::optional<UpnpService> chooseUpnpService(std::string_view xml, const UpnpEndpoint& location,
                                             UpnpServiceKind preferred, std::string* err) {
  std::optional<ListedService> chosen;
  std::size_t at = 0;
  while (const auto listed = nextService(xml, &at)) {
    const UpnpServiceKind kind = serviceKindOf(listed->type);
    if (kind == UpnpServiceKind::kNone) {
      continue;
    }
    if (!chosen || (kind == preferred && serviceKindOf(chosen->type) != preferred)) {
      chosen = listed;
    }
  }
  if (!chosen) {
    *err = "the device description lists no WANIPConnection or WANPPPConnection service";
    return std::nullopt;
  }
  UpnpEndpoint base = location;
  if (const auto urlBase = xmlElementText(xml, "URLBase")) {
    const std::string_view text = trimmed(*urlBase);
    if (!text.empty()) {
      const auto parsed = splitUpnpUrl(text, err);
      if (!parsed) {
        *err = "URLBase: " + *err;
        return std::nullopt;
      }
      base = *parsed;
    }
  }
  auto control = resolve(trimmed(chosen->controlUrl), base, err);
  if (!control) {
    return std::nullopt;
  }
  return UpnpService{std::string(trimmed(chosen->type)), *control};
}

}  // namespace korvane::common
