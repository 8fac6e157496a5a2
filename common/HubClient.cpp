#include "common/HubClient.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/SealedField.h"
#include "common/Utf16.h"

namespace korvane::common {
namespace {

using SteadyClock = std::chrono::steady_clock;

// How long one wait for room in the socket lasts before the send looks again; a failed or shut
// down connection ends the wait at once, so this only bounds a pathological stall of poll().
constexpr std::chrono::milliseconds kSendWaitSlice{1000};

// The message whose digest answers a challenge: the challenge, the name block, the password
// block.
constexpr std::size_t kAnswerMessageSize = kChallengeSize + 2 * kSealedTextBytes;

void setError(std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
}

SteadyClock::time_point deadlineAfter(std::chrono::milliseconds limit) {
  if (limit == kNoTimeLimit) {
    return SteadyClock::time_point::max();
  }
  return SteadyClock::now() + std::max(limit, std::chrono::milliseconds::zero());
}

std::chrono::milliseconds timeLeft(SteadyClock::time_point deadline) {
  if (deadline == SteadyClock::time_point::max()) {
    return kNoTimeLimit;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return std::max(left, std::chrono::milliseconds::zero());
}

std::array<std::uint8_t, kRecordHeaderSize> controlHeader(ControlType type, std::uint32_t option,
                                                          std::size_t payloadLength) {
  RecordHeader header;
  header.payloadLength = static_cast<std::uint32_t>(payloadLength);
  header.kind = kKindControl;
  header.type = static_cast<std::uint32_t>(type);
  header.option = option;
  return encodeRecordHeader(header);
}

}  // namespace

std::optional<Md5Digest> challengeAnswer(std::span<const std::uint8_t, kChallengeSize> challenge,
                                         const Credentials& credentials) {
  const auto name = utf8ToUtf16(credentials.accountName);
  const auto password = utf8ToUtf16(credentials.password);
  if (!name || !password) {
    return std::nullopt;
  }
  std::array<std::uint8_t, kAnswerMessageSize> message{};
  const TextBlock nameBlock = textBlockOf(*name);
  const TextBlock passwordBlock = textBlockOf(*password);
  auto out = std::copy(challenge.begin(), challenge.end(), message.begin());
  out = std::copy(nameBlock.begin(), nameBlock.end(), out);
  std::copy(passwordBlock.begin(), passwordBlock.end(), out);
  return md5Digest(message);
}

HubClient::HubClient() : receiveBuffer_(kMaxRecordSize) {}

bool HubClient::connect(std::string_view host, int port, std::string* err) {
  if (connection_.isOpen()) {
    setError(err, "the client is already connected");
    return false;
  }
  auto connection = platform::TcpConnection::connect(host, port, err);
  if (!connection) {
    return false;
  }
  connection_ = std::move(*connection);
  return true;
}

void HubClient::setNoDelay(bool on) {
  connection_.setNoDelay(on);
}

LoginResult HubClient::login(bool keepAlives, const std::optional<Credentials>& credentials,
                             std::chrono::milliseconds limit, std::string* err) {
  const auto deadline = deadlineAfter(limit);
  if (!sendControl(ControlType::kLogin, keepAlives ? 1 : 0, {}, err)) {
    return LoginResult::kFailed;
  }
  for (;;) {
    ReceivedRecord record;
    const ReceiveResult received = receiveRecord(&record, timeLeft(deadline), err);
    if (received == ReceiveResult::kTimedOut) {
      setError(err, "no answer to the login within " + std::to_string(limit.count()) + " ms");
      return LoginResult::kFailed;
    }
    if (received != ReceiveResult::kRecord) {
      return LoginResult::kFailed;
    }
    if (record.isControlType(ControlType::kLoginOk)) {
      return LoginResult::kAccepted;
    }
    if (record.isControlType(ControlType::kLoginDenied)) {
      setError(err, "the hub denied the login");
      return LoginResult::kDenied;
    }
    if (record.isControlType(ControlType::kAuthChallenge)) {
      if (!answerChallenge(record, credentials, err)) {
        return LoginResult::kFailed;
      }
    }
    // Anything else (a keep-alive echo) is no answer to the login.
  }
}

bool HubClient::answerChallenge(const ReceivedRecord& challenge,
                                const std::optional<Credentials>& credentials, std::string* err) {
  if (!credentials) {
    setError(err, "the hub asks for an account, and none was given");
    return false;
  }
  if (challenge.payload.size() != kChallengeSize) {
    setError(err, "the hub sent a challenge of " + std::to_string(challenge.payload.size()) +
                      " bytes instead of 16");
    return false;
  }
  const auto answer = challengeAnswer(challenge.payload.first<kChallengeSize>(), *credentials);
  if (!answer) {
    setError(
        err,
        "cannot answer the challenge: the account name or password is not valid UTF-8, or MD5 is unavailable");
    return false;
  }
  return sendControl(ControlType::kAuthAnswer, 0, *answer, err);
}

bool HubClient::sendKeepAlive(std::string* err) {
  return sendControl(ControlType::kKeepAlive, 0, {}, err);
}

bool HubClient::sendControl(ControlType type, std::uint32_t option,
                            std::span<const std::uint8_t> payload, std::string* err) {
  const auto header = controlHeader(type, option, payload.size());
  std::array<std::span<const std::uint8_t>, 2> parts = {std::span<const std::uint8_t>(header),
                                                        payload};
  std::lock_guard lock(sendMutex_);
  return sendParts(parts, err);
}

bool HubClient::sendFrames(std::span<const std::span<const std::uint8_t>> frames,
                           std::uint32_t kind, std::string* err) {
  if (kind == kKindControl) {
    setError(err, "data records cannot have kind 0, which marks control records");
    return false;
  }
  for (const auto& frame : frames) {
    if (frame.size() > kMaxFrameSize) {
      setError(err, "a frame of " + std::to_string(frame.size()) +
                        " bytes is longer than a record carries (" + std::to_string(kMaxFrameSize) +
                        ")");
      return false;
    }
  }
  std::lock_guard lock(sendMutex_);
  sendHeaders_.resize(frames.size());
  partList_.clear();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    RecordHeader header;
    header.payloadLength = static_cast<std::uint32_t>(frames[i].size());
    header.kind = kind;
    header.plainLength = header.payloadLength;
    sendHeaders_[i] = encodeRecordHeader(header);
    partList_.emplace_back(sendHeaders_[i]);
    partList_.push_back(frames[i]);
  }
  return sendParts(partList_, err);
}

bool HubClient::sendFrame(std::span<const std::uint8_t> frame, std::uint32_t kind,
                          std::string* err) {
  return sendFrames(std::span(&frame, 1), kind, err);
}

bool HubClient::sendRaw(std::span<const std::uint8_t> bytes, std::string* err) {
  std::array<std::span<const std::uint8_t>, 1> parts = {bytes};
  std::lock_guard lock(sendMutex_);
  return sendParts(parts, err);
}

bool HubClient::sendParts(std::span<std::span<const std::uint8_t>> parts, std::string* err) {
  if (!connection_.isOpen()) {
    setError(err, "the client is not connected");
    return false;
  }
  std::size_t first = 0;
  for (;;) {
    while (first < parts.size() && parts[first].empty()) {
      ++first;
    }
    if (first == parts.size()) {
      return true;
    }
    const long sent = connection_.trySend(parts.subspan(first), err);
    if (sent < 0) {
      return false;
    }
    if (sent == 0) {
      connection_.waitWritable(kSendWaitSlice);  // a failure shows in the next trySend()
      continue;
    }
    auto left = static_cast<std::size_t>(sent);
    while (left > 0) {
      const std::size_t taken = std::min(left, parts[first].size());
      parts[first] = parts[first].subspan(taken);
      left -= taken;
      if (parts[first].empty()) {
        ++first;
      }
    }
  }
}

ReceiveResult HubClient::receiveRecord(ReceivedRecord* out, std::chrono::milliseconds limit,
                                       std::string* err) {
  if (ended_) {
    setError(err, endMessage_);
    return *ended_;
  }
  if (!connection_.isOpen()) {
    return endStream(ReceiveResult::kFailed, "the client is not connected", err);
  }
  begin_ += std::exchange(handedOut_, 0);
  const auto deadline = deadlineAfter(limit);
  for (;;) {
    if (auto record = takeBufferedRecord(err)) {
      *out = *record;
      return ReceiveResult::kRecord;
    }
    if (ended_) {
      return *ended_;
    }
    if (auto stop = fillBuffer(deadline, err)) {
      return *stop;
    }
  }
}

std::optional<ReceivedRecord> HubClient::takeBufferedRecord(std::string* err) {
  const std::span<const std::uint8_t> pending(receiveBuffer_.data() + begin_, end_ - begin_);
  std::array<RecordSpan, 1> found{};
  const ParseResult parsed = parseRecords(pending, found);
  if (parsed.count == 1) {
    handedOut_ = found[0].length;
    ReceivedRecord record;
    record.header = decodeRecordHeader(pending.first<kRecordHeaderSize>());
    record.payload = pending.subspan(kRecordHeaderSize, found[0].length - kRecordHeaderSize);
    return record;
  }
  if (parsed.preambleError) {
    endStream(ReceiveResult::kFailed,
              "the stream from the hub is broken: a record header without the magic 0xFF00FF00",
              err);
    return std::nullopt;
  }
  if (pending.size() >= kRecordHeaderSize) {
    const std::uint64_t length =
        kRecordHeaderSize + std::uint64_t{readBigEndian32(&pending[kPayloadLengthOffset])};
    if (length > kMaxRecordSize) {
      endStream(ReceiveResult::kFailed,
                "the hub announced a record of " + std::to_string(length) + " bytes, longer than " +
                    std::to_string(kMaxRecordSize),
                err);
    }
  }
  return std::nullopt;
}

std::optional<ReceiveResult> HubClient::fillBuffer(SteadyClock::time_point deadline,
                                                   std::string* err) {
  if (begin_ > 0) {
    std::memmove(receiveBuffer_.data(), receiveBuffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (deadline != SteadyClock::time_point::max() && !connection_.waitReadable(timeLeft(deadline))) {
    return ReceiveResult::kTimedOut;
  }
  const long received = connection_.receive(std::span(receiveBuffer_).subspan(end_));
  if (received > 0) {
    end_ += static_cast<std::size_t>(received);
    return std::nullopt;
  }
  if (received == 0) {
    return endStream(ReceiveResult::kClosed,
                     connection_.lastErrorWasAbort() ? "the connection was shut down"
                                                     : "the hub closed the connection",
                     err);
  }
  return endStream(ReceiveResult::kFailed, connection_.lastError(), err);
}

ReceiveResult HubClient::endStream(ReceiveResult result, std::string message, std::string* err) {
  ended_ = result;
  endMessage_ = std::move(message);
  setError(err, endMessage_);
  return result;
}

void HubClient::shutdown() {
  connection_.shutdownBoth();
}

}  // namespace korvane::common
