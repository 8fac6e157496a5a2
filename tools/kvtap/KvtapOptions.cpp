#include "tools/kvtap/KvtapOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/WholeFile.h"
#include "tools/ToolOptions.h"

namespace korvane::tools {
namespace {

constexpr int kMaxPort = 65535;
// Longest host name DNS allows.
constexpr std::size_t kMaxHostLength = 253;
// Longest interface name Linux takes (IFNAMSIZ less the terminating zero).
constexpr std::size_t kMaxInterfaceName = 15;
// Longest password or network key file read: far beyond any password the hub stores (64 UTF-16
// code units), small enough that pointing the option at a large file does no harm.
constexpr std::size_t kMaxSecretFileSize = 4096;

bool isHostCharacter(char c, bool bracketed) {
  if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_') {
    return true;
  }
  return bracketed && (c == ':' || c == '%');  // IPv6 groups and a zone index
}

bool isValidHost(const std::string& host, bool bracketed) {
  return !host.empty() && host.size() <= kMaxHostLength &&
         std::all_of(host.begin(), host.end(),
                     [bracketed](char c) { return isHostCharacter(c, bracketed); });
}

/// The file's content without one line end at its end; empty with a message when it cannot be
/// read.
std::optional<std::string> readSecretFile(const std::string& option, const std::string& path,
                                          std::string* err) {
  std::string content;
  std::string readErr;
  const platform::ReadOutcome outcome = platform::readWholeFile(path, &content, &readErr);
  if (outcome == platform::ReadOutcome::kMissing) {
    *err = option + " " + path + ": no such file";
    return std::nullopt;
  }
  if (outcome != platform::ReadOutcome::kRead) {
    *err = option + " " + path + ": " + readErr;
    return std::nullopt;
  }
  if (content.size() > kMaxSecretFileSize) {
    *err = option + " " + path + ": longer than " + std::to_string(kMaxSecretFileSize) + " bytes";
    return std::nullopt;
  }
  if (!content.empty() && content.back() == '\n') {
    content.pop_back();
    if (!content.empty() && content.back() == '\r') {
      content.pop_back();
    }
  }
  return content;
}

// Linux refuses interface names that are empty, too long, "." or "..", or hold a slash, a colon
// or white space.
bool isValidInterfaceName(const std::string& name) {
  if (name.empty() || name.size() > kMaxInterfaceName || name == "." || name == "..") {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == ':' || std::isspace(static_cast<unsigned char>(c)) != 0;
  });
}

std::string displayOf(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

/// What the loop over the arguments collects before the checks that need all of them.
struct Collected {
  KvtapOptions options;
  std::optional<std::string> account;
  std::optional<std::string> passwordFile;
  std::optional<std::string> keyText;
  std::optional<std::string> keyFile;
};

bool takeOption(const std::vector<std::string>& args, std::size_t* i, Collected* collected,
                std::string* err) {
  const std::string& arg = args[*i];
  if (arg == "--help" || arg == "-h") {
    collected->options.help = true;
    return true;
  }
  if (arg == "--no-offloads") {
    collected->options.offloads = false;
    return true;
  }
  static constexpr const char* kValued[] = {
      "--hub",      "--tap", "--account", "--password-file", "--network-key", "--network-key-file",
      "--keepalive"};
  if (std::find(std::begin(kValued), std::end(kValued), arg) == std::end(kValued)) {
    *err = "unknown option " + arg + "; see kvtap --help";
    return false;
  }
  if (*i + 1 >= args.size()) {
    *err = "option " + arg + " needs a value";
    return false;
  }
  const std::string& value = args[++*i];
  KvtapOptions& options = collected->options;
  if (arg == "--hub") {
    if (!parseHubAddress(value, &options.hubHost, &options.hubPort, err)) {
      return false;
    }
    options.hubDisplay = displayOf(options.hubHost, options.hubPort);
  } else if (arg == "--tap") {
    if (!isValidInterfaceName(value)) {
      *err =
          "--tap '" + value + "' is no interface name: 1 to 15 characters, no '/', ':' or blanks";
      return false;
    }
    options.tapName = value;
  } else if (arg == "--account") {
    collected->account = value;
  } else if (arg == "--password-file") {
    collected->passwordFile = value;
  } else if (arg == "--network-key") {
    collected->keyText = value;
  } else if (arg == "--network-key-file") {
    collected->keyFile = value;
  } else {
    int seconds = 0;
    if (!parseIntInRange(value, 1, static_cast<int>(kLongestKeepAlive.count()), &seconds)) {
      *err = "--keepalive must be a whole number of seconds from 1 to " +
             std::to_string(kLongestKeepAlive.count()) + ", not '" + value + "'";
      return false;
    }
    options.keepAlive = std::chrono::seconds(seconds);
  }
  return true;
}

bool resolveCredentials(const Collected& collected, const KvtapEnvironment& environment,
                        KvtapOptions* options, std::string* err) {
  if (!collected.account) {
    if (collected.passwordFile) {
      *err = "--password-file needs --account";
      return false;
    }
    return true;
  }
  if (collected.account->empty()) {
    *err = "--account needs a name";
    return false;
  }
  std::optional<std::string> password;
  if (collected.passwordFile) {
    password = readSecretFile("--password-file", *collected.passwordFile, err);
    if (!password) {
      return false;
    }
  } else if (environment.password) {
    password = environment.password;
  } else {
    *err = std::string("--account needs a password: --password-file FILE or the variable ") +
           kPasswordVariable;
    return false;
  }
  options->credentials = common::Credentials{*collected.account, *password};
  return true;
}

bool resolveNetworkKey(const Collected& collected, KvtapOptions* options, std::string* err) {
  if (collected.keyText && collected.keyFile) {
    *err = "give --network-key or --network-key-file, not both";
    return false;
  }
  std::optional<std::string> text = collected.keyText;
  if (collected.keyFile) {
    text = readSecretFile("--network-key-file", *collected.keyFile, err);
    if (!text) {
      return false;
    }
  }
  if (!text) {
    return true;
  }
  options->networkKey = parseNetworkKey(*text);
  if (!options->networkKey) {
    *err = "the network key must be 32 hexadecimal digits";  // the key itself is not repeated
    return false;
  }
  return true;
}

}  // namespace

std::string kvtapUsage() {
  return "usage: kvtap --hub HOST:PORT --tap NAME [--account NAME [--password-file FILE]]\n"
         "             [--network-key HEX32 | --network-key-file FILE] [--keepalive SECONDS]\n"
         "             [--no-offloads]\n"
         "Joins the TAP device NAME (opened, or created) to a virtual hub and relays its frames.\n"
         "  --hub HOST:PORT     the hub: a name, an IPv4 address or [an IPv6 address]\n"
         "  --account NAME      log in with this account; the password comes from\n"
         "                      --password-file or the variable KVTAP_PASSWORD\n"
         "  --network-key HEX32 the domain's network key: frames travel encrypted\n"
         "  --keepalive SECONDS keep-alive interval, 1 to 19 (default 10)\n"
         "  --no-offloads       take the TAP device's frames one by one, as the wire carries\n"
         "                      them, instead of as large TCP segments that kvtap cuts itself\n"
         "Runs until SIGTERM or SIGINT; reconnects by itself when the connection ends.\n";
}

bool parseKvtapOptions(const std::vector<std::string>& args, const KvtapEnvironment& environment,
                       KvtapOptions* options, std::string* err) {
  Collected collected;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!takeOption(args, &i, &collected, err)) {
      return false;
    }
  }
  if (collected.options.help) {
    *options = collected.options;
    return true;
  }
  if (collected.options.hubHost.empty()) {
    *err = "--hub HOST:PORT is required; see kvtap --help";
    return false;
  }
  if (collected.options.tapName.empty()) {
    *err = "--tap NAME is required; see kvtap --help";
    return false;
  }
  if (!resolveCredentials(collected, environment, &collected.options, err) ||
      !resolveNetworkKey(collected, &collected.options, err)) {
    return false;
  }
  *options = collected.options;
  return true;
}

bool parseHubAddress(const std::string& text, std::string* host, int* port, std::string* err) {
  std::string hostPart;
  std::string portPart;
  bool bracketed = false;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      *err = "--hub '" + text + "' must be [IPV6]:PORT";
      return false;
    }
    hostPart = text.substr(1, close - 1);
    portPart = text.substr(close + 2);
    bracketed = true;
  } else {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
      *err = "--hub '" + text + "' must be HOST:PORT, with an IPv6 address in brackets";
      return false;
    }
    hostPart = text.substr(0, colon);
    portPart = text.substr(colon + 1);
  }
  if (!isValidHost(hostPart, bracketed) || (bracketed && hostPart.find(':') == std::string::npos)) {
    *err = "--hub '" + text + "' has no valid host";
    return false;
  }
  int parsedPort = 0;
  if (!parseIntInRange(portPart, 1, kMaxPort, &parsedPort)) {
    *err = "--hub '" + text + "': the port must be a whole number from 1 to 65535";
    return false;
  }
  *host = hostPart;
  *port = parsedPort;
  return true;
}

std::optional<common::NetworkKey> parseNetworkKey(const std::string& text) {
  common::NetworkKey key{};
  if (text.size() != 2 * key.size()) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < key.size(); ++i) {
    unsigned value = 0;
    const char* first = text.data() + 2 * i;
    const auto [end, error] = std::from_chars(first, first + 2, value, 16);
    if (error != std::errc() || end != first + 2) {
      return std::nullopt;
    }
    key[i] = static_cast<std::uint8_t>(value);
  }
  return key;
}

}  // namespace korvane::tools
