#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::common {

/// The text after "://" must be shorter than this: the HTTP client keeps host and path in
/// buffers of 1024 bytes, and the services it talks to never use longer addresses.
inline constexpr std::size_t kMaxUrlRestLength = 1024;
/// The path with its query must be shorter than this, for the same buffers.
inline constexpr std::size_t kMaxUrlPathLength = 1024;
/// A port text longer than this is refused before it is read: 65535 takes five digits, and
/// seven leave room for leading zeros without letting a number overflow.
inline constexpr std::size_t kMaxPortDigits = 7;

/// The parts of an http or https address that a request needs.
struct HttpUrl {
  bool secure = false;  ///< https
  std::string host;
  int port = 80;
  std::string path;  ///< from the first '/' after the host, query included; "/" when none
};

/// Splits `url` ("http://host[:port]/path?query" or https). The authority ends at the first '/'
/// or '?' after "://", so colons in the query (an adapter address, say) are never a port.
/// Without a port, 80 for http and 443 for https. Empty with a message in `err` for another
/// scheme, an empty host, a port that is not a number of 1..65535 in at most seven digits, or
/// parts beyond the limits above.
std::optional<HttpUrl> splitHttpUrl(std::string_view url, std::string* err);

}  // namespace korvane::common
