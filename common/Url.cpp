#include "common/Url.h"

#include <algorithm>
#include <cctype>

namespace korvane::common {
namespace {

constexpr int kDefaultHttpPort = 80;
constexpr int kDefaultHttpsPort = 443;
constexpr int kHighestPort = 65535;

bool fail(std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
  return false;
}

bool readPort(std::string_view text, int* port, std::string* err) {
  if (text.empty() || text.size() > kMaxPortDigits ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return fail(err, "the port '" + std::string(text) + "' is not a number of at most " +
                         std::to_string(kMaxPortDigits) + " digits");
  }
  int value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kHighestPort) {
    return fail(err, "the port " + std::to_string(value) + " is not within 1..65535");
  }
  *port = value;
  return true;
}

}  // namespace

std::optional<HttpUrl> splitHttpUrl(std::string_view url, std::string* err) {
  HttpUrl result;
  std::string_view rest;
  if (url.starts_with("http://")) {
    rest = url.substr(7);
  } else if (url.starts_with("https://")) {
    result.secure = true;
    rest = url.substr(8);
  } else {
    fail(err, "the address does not begin with http:// or https://");
    return std::nullopt;
  }
  if (rest.size() >= kMaxUrlRestLength) {
    fail(err, "the address is longer than " + std::to_string(kMaxUrlRestLength) + " characters");
    return std::nullopt;
  }
  const std::size_t authorityEnd = std::min(rest.find_first_of("/?"), rest.size());
  const std::string_view authority = rest.substr(0, authorityEnd);
  const std::size_t colon = authority.find(':');
  result.host = std::string(authority.substr(0, colon));
  if (result.host.empty()) {
    fail(err, "the address has no host");
    return std::nullopt;
  }
  result.port = result.secure ? kDefaultHttpsPort : kDefaultHttpPort;
  if (colon != std::string_view::npos &&
      !readPort(authority.substr(colon + 1), &result.port, err)) {
    return std::nullopt;
  }
  const std::string_view path = rest.substr(authorityEnd);
  if (path.size() >= kMaxUrlPathLength) {
    fail(err, "the path is longer than " + std::to_string(kMaxUrlPathLength) + " characters");
    return std::nullopt;
  }
  if (path.empty()) {
    result.path = "/";
  } else if (path.front() == '?') {
    result.path = "/" + std::string(path);
  } else {
    result.path = std::string(path);
  }
  return result;
}

}  // namespace korvane::common
