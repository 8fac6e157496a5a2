#pragma once

#include <optional>
#include <string>
#include <string_view>

/// Where the registration service is: its host is a setting, the path, port and protocol of
/// its dispatch address are fixed.
namespace korvane::panel {

/// The key in Tollmar.ini's SYSTEM section that names the registration host.
inline constexpr std::string_view kRegistrationHostKey = "RegistrationHost";
/// The environment variable that, when set and not empty, replaces the setting (the tests point
/// the client at their stand-in service with it).
inline constexpr const char* kRegistrationHostVariable = "KORVANE_REGISTRATION_HOST";
/// The service's port unless the host text names another after ':' (the tests' stand-in
/// service listens on a free port).
inline constexpr int kRegistrationPort = 8080;
/// The path of the dispatch page, which names the service's current pages.
inline constexpr std::string_view kDispatchPath = "/kvp/faces/api/service_spec_dispatch.jsp";

/// The registration host: the environment variable when set, else the key of the
/// configuration file at `configPath`; empty when neither names one.
std::string registrationHost(const std::string& configPath);

/// "http://HOST:8080/kvp/faces/api/service_spec_dispatch.jsp" for `host` ("name" or
/// "name:port"). Empty with a message in `err` for an empty host or one that is not a bare
/// name or address with an optional port of 1..65535.
std::optional<std::string> dispatchUrl(std::string_view host, std::string* err);

}  // namespace korvane::panel
