#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

/// The HTTP(S) client of the dynamic DNS update and the domain registration: one GET or form
/// POST, its reply body kept whole in a file and in part in a buffer.
namespace korvane::common {

/// The user agent that every request names.
inline constexpr std::string_view kHttpUserAgent = "WININET Sample Program";
/// The one header of a form POST.
inline constexpr std::string_view kFormContentType =
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8";

/// A reply body larger than this fails the request: the update and registration services answer
/// with a line or a short page, and the terms document is a few KiB, so more is not theirs.
inline constexpr std::size_t kMaxReplyBodyBytes = 256 * 1024;
/// Setting up a connection (name lookup, TCP and TLS handshakes) longer than this gives up: a
/// reachable server takes well under a second, so this only cuts a dead one short.
inline constexpr std::chrono::milliseconds kHttpConnectLimit{10'000};
/// A whole request longer than this gives up: a server that accepts and never answers must not
/// hold its caller, and the next DNS update (60 s later) should not find this one still running.
inline constexpr std::chrono::milliseconds kHttpTotalLimit{30'000};

/// The environment variable naming a PEM file of certificate authorities that replaces the
/// system's trust store for https: for a private authority (and the tests' own). The server's
/// certificate and name are verified either way.
inline constexpr const char* kCaFileVariable = "KORVANE_CA_FILE";

/// Error texts that a failed request leaves in the reply buffer or file.
inline constexpr std::string_view kNoConnectionText =
    "Error: Could not open a connection to the server";
inline constexpr std::string_view kRequestFailedText = "Error: Failed to make a HTTP Request";
inline constexpr std::string_view kNoResponseText = "ERROR: No Response";

/// One request.
struct HttpRequest {
  std::string url;                      ///< http:// or https:// address
  std::optional<std::string> formBody;  ///< POST with this form body when set, else GET
  std::string replyFile;                ///< replaced by the reply body when not empty
  std::size_t replyBufferSize = 0;      ///< the buffer's size in bytes, 0 for no buffer
  std::chrono::milliseconds connectLimit = kHttpConnectLimit;
  std::chrono::milliseconds totalLimit = kHttpTotalLimit;
  const std::atomic<bool>* cancel = nullptr;  ///< when it turns true the request gives up
};

/// What a request left.
struct HttpReply {
  bool succeeded = false;
  /// The body cut to replyBufferSize - 1 bytes (at its first zero byte), or the error text of a
  /// failure cut alike; empty without a buffer.
  std::string buffer;
  /// The whole body (cut at its first zero byte) on success.
  std::string body;
  /// Why the request failed, for a diagnostic line; empty on success.
  std::string detail;
};

/// Sends `request` (through the proxy that http_proxy, https_proxy and no_proxy name) and reads
/// the reply body, up to kMaxReplyBodyBytes whether or not a Content-Length announces it. On
/// success the reply file is replaced atomically by the body. An address that splitHttpUrl
/// refuses fails before any connection is tried; a connection that cannot be made puts
/// kNoConnectionText, a request that cannot be made kRequestFailedText, into the buffer (into
/// the file when there is no buffer, else the file is emptied); a reply that is not read whole
/// within the limits puts kNoResponseText into both. The status code is not looked at: the
/// services answer in the body.
HttpReply sendHttpRequest(const HttpRequest& request);

}  // namespace korvane::common
