#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// HTTP as the router's UPnP services speak it: the address form of their URLs and the reading of
// one answer. Pure text handling, so the parsers can be fed anything.
namespace korvane::common {

/// A router answer (headers and body together) larger than this is refused: a device description
/// of a home router takes a few KiB, and nothing in a port-mapping answer comes near.
inline constexpr std::size_t kMaxUpnpAnswerBytes = 256 * 1024;
/// The headers of an answer must end within this many bytes; a head that never ends is refused.
inline constexpr std::size_t kMaxUpnpHeadBytes = 16 * 1024;
/// A URL longer than this is refused: a router's addresses are an IPv4 host, a port and a short
/// path; 1,024 leaves room for long paths and none for a flood.
inline constexpr std::size_t kMaxUpnpUrlLength = 1024;
/// The port of an http URL that names none.
inline constexpr int kDefaultHttpPort = 80;

/// The parts of an "http://A.B.C.D[:PORT]/path" URL of a router service.
struct UpnpEndpoint {
  std::string hostPart;  ///< as written in the URL ("192.168.1.1:5000"), for the Host header
  std::uint32_t address = 0;  ///< host byte order
  int port = kDefaultHttpPort;
  std::string path;  ///< from the first '/' after the host; "/" when none
};

/// Splits an http URL whose host is a dotted IPv4 address (no name is ever looked up). Empty with
/// a message in `err` for another scheme, a host that is not four decimal numbers, a port outside
/// 1..65535, or a URL beyond kMaxUpnpUrlLength.
std::optional<UpnpEndpoint> splitUpnpUrl(std::string_view url, std::string* err);

/// The dotted IPv4 address in `text` (exactly four decimal numbers of 0..255), host byte order.
std::optional<std::uint32_t> parseIpv4(std::string_view text);

/// `address` (host byte order) as "A.B.C.D".
std::string ipv4Text(std::uint32_t address);

/// The value of the first header `name` (compared without regard to case) in the header block
/// `head`, blanks trimmed; empty when there is none.
std::optional<std::string> findHeader(std::string_view head, std::string_view name);

/// Collects one HTTP answer from the pieces a connection delivers and says when it is whole.
class HttpAnswerReader {
 public:
  enum class State { kNeedMore, kComplete, kFailed };

  /// Adds received bytes; the state after them.
  State add(std::string_view piece);
  /// The end of the connection: an answer without Content-Length ends here, any other is cut.
  State finish();

  State state() const { return state_; }
  /// Why the answer was refused, once kFailed.
  const std::string& error() const { return error_; }
  /// The status code of the first line, once the head is read.
  int status() const { return status_; }
  /// The header block without the first line (for findHeader), once the head is read.
  std::string_view head() const;
  /// The body, once complete.
  std::string_view body() const;

 private:
  State fail(std::string message);
  State parseHead();

  std::string data_;
  std::string error_;
  State state_ = State::kNeedMore;
  std::size_t bodyStart_ = 0;  ///< 0 until the head ended
  std::size_t firstLineEnd_ = 0;
  std::optional<std::size_t> contentLength_;
  int status_ = 0;
};

}  // namespace korvane::common
