#include "panel/logic/RegistrationHost.h"

#include <cstdlib>

#include "common/ManagerConfigFormat.h"
#include "common/ManagerConfigSnapshot.h"
#include "common/Url.h"
#include "platform/ProfileFile.h"

namespace korvane::panel {
namespace {

// A host name or an IPv4 address: letters, digits, '-', '.' and '_' (some internal names
// carry it); anything else (a scheme, a path, a user, blanks) is not a host.
bool isHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

}  // namespace

std::string registrationHost(const std::string& configPath) {
  if (const char* value = std::getenv(kRegistrationHostVariable); value != nullptr && *value != 0) {
    return value;
  }
  return platform::profile::readString(configPath, common::kSystemSection, kRegistrationHostKey, "",
                                       common::kValueBufferSize);
}

std::optional<std::string> dispatchUrl(std::string_view host, std::string* err) {
  const std::size_t colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  bool valid = !name.empty();
  for (char c : name) {
    valid = valid && isHostCharacter(c);
  }
  if (!valid) {
    *err = host.empty() ? "no registration host is set (" + std::string(kRegistrationHostVariable) +
                              " or SYSTEM/" + std::string(kRegistrationHostKey) + " in Tollmar.ini)"
                        : "the registration host '" + std::string(host) +
                              "' is not a host name or address with an optional :PORT";
    return std::nullopt;
  }
  const std::string authority = colon == std::string_view::npos
                                    ? std::string(name) + ":" + std::to_string(kRegistrationPort)
                                    : std::string(host);
  std::string url = "http://" + authority + std::string(kDispatchPath);
  // The port, when given, is checked as every request's address is.
  std::string splitErr;
  if (!common::splitHttpUrl(url, &splitErr)) {
    *err = "the registration host '" + std::string(host) + "': " + splitErr;
    return std::nullopt;
  }
  return url;
}

}  // namespace korvane::panel
