#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/HubClient.h"
#include "common/SealedField.h"

namespace korvane::tools {

/// The environment variable that carries the account's password, so that it never stands on a
/// command line that every user of the machine can read.
inline constexpr const char* kPasswordVariable = "KVTAP_PASSWORD";

/// Keep-alive interval when none is given: half the hub's 20-second limit, so that one lost
/// keep-alive does not cost the connection.
inline constexpr std::chrono::seconds kDefaultKeepAlive{10};
/// The hub cuts a connection that promised keep-alives and sent nothing for 20 s; an interval of
/// 20 s or more would let it do so between two keep-alives.
inline constexpr std::chrono::seconds kLongestKeepAlive{19};

/// What one kvtap run does.
struct KvtapOptions {
  std::string hubHost;     ///< a name, an IPv4 address or an IPv6 address (without brackets)
  int hubPort = 0;         ///< 1..65535
  std::string hubDisplay;  ///< "host:port", "[v6]:port": how log lines name the hub
  std::string tapName;     ///< the TAP device to open or create
  std::optional<common::Credentials> credentials;  ///< empty: log in without an account
  std::optional<common::NetworkKey> networkKey;    ///< set: frames travel encrypted (kind 2)
  std::chrono::seconds keepAlive = kDefaultKeepAlive;
  /// The TAP device hands over and takes large TCP segments and unfinished checksums; the
  /// frames on the wire are the same either way.
  bool offloads = true;
  bool help = false;
};

/// Where the secrets came from besides the command line.
struct KvtapEnvironment {
  std::optional<std::string> password;  ///< the value of KVTAP_PASSWORD, when set
};

/// The usage text.
std::string kvtapUsage();

/// The options of the command line `args` (without the program name), reading the password and
/// key files they name. False with a one-line message in `err` for an unknown option, a missing
/// or bad value, an unreadable file, or a missing --hub or --tap; `options` is then unchanged.
[[nodiscard]] bool parseKvtapOptions(const std::vector<std::string>& args,
                                     const KvtapEnvironment& environment, KvtapOptions* options,
                                     std::string* err);

/// Splits "HOST:PORT" ("[IPV6]:PORT" for an IPv6 address) into host and port; false with a
/// message in `err` when the form, the host or the port (1..65535) is wrong.
[[nodiscard]] bool parseHubAddress(const std::string& text, std::string* host, int* port,
                                   std::string* err);

/// The 16 bytes of a network key written as 32 hexadecimal digits (either case); empty when the
/// text is anything else.
std::optional<common::NetworkKey> parseNetworkKey(const std::string& text);

}  // namespace korvane::tools
