#include "hub/SocketPort.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/ClientRecord.h"
#include "hub/ThreadCatchAll.h"

namespace korvane::hub {
namespace {

/// The address text a DHCP service shows for a station that has no lease yet.
constexpr std::string_view kNoLeaseText = "---.---.---.---";

std::string cutTo(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, limit));
}

double addCapped(double counter, std::size_t bytes) {
  return std::min(counter + static_cast<double>(bytes), kByteCounterCap);
}

}  // namespace

SocketPort::SocketPort(const platform::Clock& clock, std::shared_ptr<HubLogger> log,
                       std::unique_ptr<PortConnection> connection, platform::PeerAddress peer)
    : log_(std::move(log)),
      connection_(std::move(connection)),
      peer_(std::move(peer)),
      numericAddress_(cutTo(peer_.numericHost, kPortTextMax)),
      connectTick_(clock.tickCount()),
      sendQueue_(*connection_, [this](int error) { reportSendError(error); }),
      hostName_(kUnknownHost) {
  logName_ = buildLogName();
}

SocketPort::~SocketPort() {
  sendQueue_.stop();
}

std::string SocketPort::buildLogName() const {
  std::array<char, kPortTextMax + 1> text{};
  std::snprintf(text.data(), text.size(), "[%s] %s:%d", hostName_.c_str(), numericAddress_.c_str(),
                peer_.port);
  return text.data();
}

std::string SocketPort::logName() const {
  const std::lock_guard lock(namesMutex_);
  return logName_;
}

std::string SocketPort::hostName() const {
  const std::lock_guard lock(namesMutex_);
  return hostName_;
}

void SocketPort::setHostName(std::string_view hostName) {
  {
    const std::lock_guard lock(namesMutex_);
    hostName_ = cutTo(hostName, kPortTextMax);
    logName_ = buildLogName();
    hostNameKnown_ = true;
  }
  hostNameSet_.notify_all();
}

bool SocketPort::waitForHostName(std::chrono::milliseconds limit) {
  std::unique_lock lock(namesMutex_);
  return hostNameSet_.wait_for(lock, limit, [this] { return hostNameKnown_; });
}

std::string SocketPort::addressText() const {
  const std::lock_guard lock(namesMutex_);
  return addressText_;
}

void SocketPort::updateAddressText(std::string_view text) {
  if (text.empty()) {
    return;
  }
  const std::lock_guard lock(namesMutex_);
  if (text == kNoLeaseText && !addressText_.empty() && addressText_ != kNoLeaseText) {
    return;
  }
  addressText_ = cutTo(text, kAddressTextMax);
}

bool SocketPort::logIn(std::span<const std::uint8_t> loginOk) {
  state_ = PortState::kLoggedIn;
  return sendQueue_.sendControlAndOpen(loginOk);
}

std::u16string SocketPort::accountName() const {
  const std::lock_guard lock(namesMutex_);
  return accountName_;
}

void SocketPort::setAccount(std::u16string_view name, int domainIndex) {
  {
    const std::lock_guard lock(namesMutex_);
    accountName_ = name;
  }
  domainIndex_ = domainIndex;
}

void SocketPort::addBytesReceived(std::size_t bytes) {
  bytesReceived_ = addCapped(bytesReceived_.load(), bytes);
}

SendResult SocketPort::sendData(std::span<const std::span<const std::uint8_t>> records,
                                std::size_t total) {
  if (state_.load() != PortState::kLoggedIn) {
    return SendResult::kNotAccepted;
  }
  if (records.empty()) {
    return SendResult::kSent;
  }
  const SendResult result = sendQueue_.sendData(records, total);
  if (result == SendResult::kSent || result == SendResult::kQueued) {
    // Only the thread that holds the port manager's lock gets here, so adding is not racy.
    bytesSent_ = addCapped(bytesSent_.load(), total);
  }
  return result;
}

bool SocketPort::sendControlData(std::span<const std::uint8_t> record) {
  return sendQueue_.sendControl(record);
}

void SocketPort::cut() {
  cut_ = true;
  connection_->shutdownBoth();
}

void SocketPort::endConnection() {
  connection_->shutdownBoth();
  sendQueue_.stop();
}

void SocketPort::reportSendError(int error) {
  std::array<char, 64> line{};
  std::snprintf(line.data(), line.size(), "SendComplete Error %d", error);
  log_->logLimited(log_->sendErrorLines, line.data());
}

}  // namespace korvane::hub
