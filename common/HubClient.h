#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/ClientRecord.h"
#include "common/Md5.h"
#include "platform/TcpConnection.h"

namespace korvane::common {

/// The kind this client gives plain frames. The hub treats every kind other than 0 (control) and
/// 2 (encrypted) as a plain frame; 1 is the first such value.
inline constexpr std::uint32_t kKindPlainFrame = 1;

/// The hub cuts a connection that has not logged in within 10 s, and answers a refused login
/// only after 5 s; a login that waits this long has heard everything the hub will say.
inline constexpr std::chrono::milliseconds kLoginTimeLimit{10000};

/// Longest record, header included, that this client sends or takes: the hub receives into a
/// 65536-byte buffer, so a longer record never completes there, and the hub never sends one.
inline constexpr std::size_t kMaxRecordSize = 65536;
/// Longest frame a data record of kMaxRecordSize carries.
inline constexpr std::size_t kMaxFrameSize = kMaxRecordSize - kRecordHeaderSize;

/// A wait without a time limit, for receiveRecord().
inline constexpr std::chrono::milliseconds kNoTimeLimit = std::chrono::milliseconds::max();

/// An account to log in with, as UTF-8 text.
struct Credentials {
  std::string accountName;
  std::string password;
};

/// How a login ended.
enum class LoginResult {
  kAccepted,  ///< the hub sent LOGIN_OK
  kDenied,    ///< the hub sent LOGIN_DENIED: wrong answer, locked account or too many connections
  kFailed,    ///< no answer in time, the connection ended, or the hub said something unexpected
};

/// One received record: its header and a view of its payload, valid until the next
/// receiveRecord() call on the same client.
struct ReceivedRecord {
  RecordHeader header;
  std::span<const std::uint8_t> payload;

  bool isControl() const { return header.kind == kKindControl; }
  bool isControlType(ControlType type) const {
    return isControl() && header.type == static_cast<std::uint32_t>(type);
  }
};

/// How a receive ended.
enum class ReceiveResult {
  kRecord,    ///< a whole record was received
  kTimedOut,  ///< no whole record arrived within the limit (bytes of one may be buffered)
  kClosed,    ///< the hub closed the connection, or shutdown() was called
  kFailed,    ///< the connection failed, or the stream is broken (wrong magic, oversized record)
};

/// Pure helper: the answer to an authentication challenge for an account, computed as the
/// hub's account store computes it: the MD5 digest of the challenge, then the name and then the
/// password, each as UTF-16LE in a zero-filled 128-byte block (cut at 64 code units). Empty when
/// the name or the password is not valid UTF-8, or MD5 is unavailable.
[[nodiscard]] std::optional<Md5Digest> challengeAnswer(
    std::span<const std::uint8_t, kChallengeSize> challenge, const Credentials& credentials);

/// A blocking client of a hub's client protocol: it connects, logs in, sends keep-alives and
/// data records, and returns whole records as they arrive. It answers nothing by itself: a
/// KEEPALIVE_ECHO is handed to the caller like any other record.
///
/// One thread may receive while another sends: sends are serialised among themselves, and the
/// receive side keeps its own buffer. shutdown() may be called from any thread.
class HubClient {
 public:
  HubClient();
  HubClient(const HubClient&) = delete;
  HubClient& operator=(const HubClient&) = delete;

  /// Connects to the hub at `host` and `port`; false with a message in `err` ("connect
  /// 127.0.0.1:7470: Connection refused"). A client connects once.
  [[nodiscard]] bool connect(std::string_view host, int port, std::string* err);

  bool isConnected() const { return connection_.isOpen(); }

  /// Turns Nagle's delay off, for callers that send single small records and wait for answers.
  void setNoDelay(bool on);

  /// Logs in: sends LOGIN (announcing keep-alives when `keepAlives`), answers an AUTH_CHALLENGE
  /// with `credentials`, and waits at most `limit` in all for LOGIN_OK or LOGIN_DENIED. Records
  /// that are no answer to the login (a keep-alive echo) are dropped. kFailed with a message in
  /// `err` when the hub asks for credentials and none were given, or no answer came in time.
  LoginResult login(bool keepAlives, const std::optional<Credentials>& credentials,
                    std::chrono::milliseconds limit, std::string* err);

  /// Sends one KEEPALIVE record; false with a message in `err` when the connection failed.
  [[nodiscard]] bool sendKeepAlive(std::string* err);

  /// Sends one data record of `kind` (not 0) per frame, all of them in one write where the
  /// socket takes them; blocks until every byte is sent. False with a message in `err` when the
  /// kind is 0, a frame is longer than kMaxFrameSize, or the connection failed.
  [[nodiscard]] bool sendFrames(std::span<const std::span<const std::uint8_t>> frames,
                                std::uint32_t kind, std::string* err);

  /// Sends one data record; as sendFrames.
  [[nodiscard]] bool sendFrame(std::span<const std::uint8_t> frame, std::uint32_t kind,
                               std::string* err);

  /// Sends bytes that already are whole records, as they are: records the caller builds itself,
  /// such as an encrypted frame with its own plain length. False with a message in `err` when
  /// the connection failed.
  [[nodiscard]] bool sendRaw(std::span<const std::uint8_t> bytes, std::string* err);

  /// Waits at most `limit` (kNoTimeLimit: without limit) for the next whole record and puts it
  /// into `out`; see ReceiveResult. After kClosed or kFailed every further call fails the same
  /// way; `err` gets a message for kClosed and kFailed.
  ReceiveResult receiveRecord(ReceivedRecord* out, std::chrono::milliseconds limit,
                              std::string* err);

  /// Ends the connection both ways; a receive blocked on another thread returns kClosed.
  void shutdown();

 private:
  bool sendParts(std::span<std::span<const std::uint8_t>> parts, std::string* err);
  bool sendControl(ControlType type, std::uint32_t option, std::span<const std::uint8_t> payload,
                   std::string* err);
  std::optional<ReceivedRecord> takeBufferedRecord(std::string* err);
  std::optional<ReceiveResult> fillBuffer(std::chrono::steady_clock::time_point deadline,
                                          std::string* err);
  ReceiveResult endStream(ReceiveResult result, std::string message, std::string* err);
  bool answerChallenge(const ReceivedRecord& challenge,
                       const std::optional<Credentials>& credentials, std::string* err);

  platform::TcpConnection connection_;
  std::mutex sendMutex_;  // one sender at a time, so records never interleave on the stream
  std::vector<std::array<std::uint8_t, kRecordHeaderSize>> sendHeaders_;  // under sendMutex_
  std::vector<std::span<const std::uint8_t>> partList_;                   // under sendMutex_

  std::vector<std::uint8_t> receiveBuffer_;
  std::size_t begin_ = 0;               // start of the bytes not yet handed out
  std::size_t end_ = 0;                 // end of the bytes received
  std::size_t handedOut_ = 0;           // length of the record last returned, dropped on next call
  std::optional<ReceiveResult> ended_;  // set once the stream has ended or broken
  std::string endMessage_;
};

}  // namespace korvane::common
