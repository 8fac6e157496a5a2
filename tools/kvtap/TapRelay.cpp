#include "tools/kvtap/TapRelay.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>
#include <utility>

#include "common/ClientRecord.h"
#include "common/FrameCipher.h"
#include "platform/Priority.h"
#include "platform/Random.h"

namespace korvane::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Keep-alives the hub may leave unanswered before the connection counts as dead: the hub echoes
// every one at once, so three missing echoes mean the hub or the path to it is gone.
constexpr int kSilentKeepAlives = 3;

// The announcement frame: from the station's own address to itself, with the EtherType that
// IEEE 802 sets aside for local experiments (nothing acts on it), padded to Ethernet's minimum.
constexpr std::uint16_t kAnnounceEtherType = 0x88B5;
constexpr std::size_t kMinimumFrameSize = 60;

std::uint32_t randomNumber() {
  std::array<std::uint8_t, 4> bytes{};
  if (!platform::fillRandom(bytes)) {
    // Without the kernel's source the waits lose their jitter, nothing else.
    return static_cast<std::uint32_t>(SteadyClock::now().time_since_epoch().count());
  }
  return common::readBigEndian32(bytes.data());
}

std::string secondsText(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(duration.count()) / 1000.0);
  return text;
}

bool isDataRecord(const common::ReceivedRecord& record) {
  return record.header.kind != common::kKindControl;
}

}  // namespace

TapRelay::TapRelay(RelaySettings settings, platform::TapDevice& tap, EventLog& log)
    : settings_(std::move(settings)),
      tap_(tap),
      log_(log),
      receivedFrame_(common::kMaxFrameSize),
      coalescer_([this](const platform::TapOffload& offload, std::span<const std::uint8_t> packet) {
        writeToTap(offload, packet);
      }) {}

int TapRelay::run() {
  // Both threads move every frame, as the hub's port threads do, and take their priority: on a
  // busy machine a relay thread that waits behind other work for its turn adds that wait to
  // every round trip.
  platform::raiseThreadPriority();
  std::thread tapReader([this] {
    platform::raiseThreadPriority();
    readTap();
  });
  while (!stopping()) {
    runSession();
    if (!stopping()) {
      waitBeforeReconnect();
    }
  }
  tap_.wake();
  tapReader.join();
  const std::lock_guard lock(mutex_);
  log_.line(tapFailed_ ? "stopped: the TAP device failed" : "stopped");
  return tapFailed_ ? 1 : 0;
}

void TapRelay::stop() {
  std::shared_ptr<common::HubClient> client;
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
    client = client_;
  }
  if (client) {
    client->shutdown();
  }
  wake_.notify_all();
  tap_.wake();
}

bool TapRelay::stopping() const {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

void TapRelay::setCurrent(std::shared_ptr<common::HubClient> client, bool loggedIn) {
  std::shared_ptr<common::HubClient> previous;
  {
    const std::lock_guard lock(mutex_);
    previous = std::exchange(client_, std::move(client));
    loggedIn_ = loggedIn && client_ != nullptr;
    sendFailure_.clear();
    if (stopping_ && client_) {
      client_->shutdown();  // stop() came between the connect and this hand-over
    }
  }
  if (previous && previous != client_) {
    previous->shutdown();
  }
}

void TapRelay::runSession() {
  auto client = std::make_shared<common::HubClient>();
  std::string err;
  if (!client->connect(settings_.hubHost, settings_.hubPort, &err)) {
    log_.line("cannot connect: " + err);  // the message names the address or the name
    return;
  }
  // The relay batches frames itself; Nagle's delay would only hold a lone frame (a ping) back.
  client->setNoDelay(true);
  setCurrent(client, false);
  log_.line("connected to " + settings_.hubDisplay);
  if (!logIn(*client)) {
    setCurrent(nullptr, false);
    return;
  }
  delay_.reset();
  announceStation(*client);
  setCurrent(client, true);
  const std::string reason = relayFromHub(*client);
  std::string sendFailure;
  {
    const std::lock_guard lock(mutex_);
    sendFailure = sendFailure_;
  }
  setCurrent(nullptr, false);
  if (!stopping()) {
    log_.line("connection lost: " + (sendFailure.empty() ? reason : sendFailure));
  }
}

bool TapRelay::logIn(common::HubClient& client) {
  std::string err;
  const common::LoginResult result =
      client.login(true, settings_.credentials, common::kLoginTimeLimit, &err);
  if (result == common::LoginResult::kAccepted) {
    log_.line(settings_.credentials ? "logged in as " + settings_.credentials->accountName
                                    : std::string("logged in without an account"));
    return true;
  }
  if (stopping()) {
    return false;
  }
  log_.line(result == common::LoginResult::kDenied ? std::string("login denied")
                                                   : "login failed: " + err);
  return false;
}

// A hub learns where a station lives only from frames it sends, and drops unicast frames for
// addresses it does not know. A hub that restarted has forgotten every address, while the other
// hosts still hold this station's address in their ARP caches: until this station happened to
// send something, their unicast to it would vanish. One frame after each login teaches the hub
// at once; it switches the frame nowhere, since its only target is its sender.
void TapRelay::announceStation(common::HubClient& client) {
  std::string err;
  const auto address = tap_.hardwareAddress(&err);
  if (!address) {
    log_.line("cannot announce this station to the hub: " + err);
    return;
  }
  std::array<std::uint8_t, kMinimumFrameSize> frame{};
  std::copy(address->begin(), address->end(), frame.begin());
  std::copy(address->begin(), address->end(), frame.begin() + address->size());
  frame[12] = static_cast<std::uint8_t>(kAnnounceEtherType >> 8);
  frame[13] = static_cast<std::uint8_t>(kAnnounceEtherType & 0xFF);
  if (!client.sendFrame(frame, common::kKindPlainFrame, &err)) {
    log_.line("cannot announce this station to the hub: " + err);
  }
}

std::string TapRelay::relayFromHub(common::HubClient& client) {
  const std::chrono::milliseconds interval = settings_.keepAlive;
  const std::chrono::milliseconds silenceLimit = kSilentKeepAlives * interval;
  notes_ = SessionNotes{};
  auto nextKeepAlive = SteadyClock::now() + interval;
  auto lastHeard = SteadyClock::now();
  for (;;) {
    const auto now = SteadyClock::now();
    if (now >= nextKeepAlive) {
      std::string err;
      if (!client.sendKeepAlive(&err)) {
        return err;
      }
      nextKeepAlive = now + interval;
    }
    if (now - lastHeard > silenceLimit) {
      return "no answer from the hub for " + secondsText(silenceLimit) + " s";
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextKeepAlive - now);
    common::ReceivedRecord record;
    std::string err;
    common::ReceiveResult result =
        client.receiveRecord(&record, std::max(wait, std::chrono::milliseconds(1)), &err);
    if (result == common::ReceiveResult::kRecord) {
      lastHeard = SteadyClock::now();
    }
    // Every record that is already here is taken before the joined segment goes to the device:
    // a receive that finds none does not wait.
    while (result == common::ReceiveResult::kRecord) {
      takeRecord(record);
      result = client.receiveRecord(&record, std::chrono::milliseconds(0), &err);
    }
    coalescer_.flush();
    // What the kernel answered at once to the frames just written (an echo reply, an ACK) goes
    // out from this thread, without waiting for the TAP side's thread to wake.
    relayFramesWaiting();
    if (result == common::ReceiveResult::kClosed || result == common::ReceiveResult::kFailed) {
      return err;
    }
  }
}

void TapRelay::takeRecord(const common::ReceivedRecord& record) {
  // Control records (keep-alive echoes; another client's unknown control types, which the hub
  // switches like frames) are no frames for this interface.
  if (!isDataRecord(record)) {
    return;
  }
  std::span<const std::uint8_t> frame = record.payload;
  if (record.header.kind == common::kKindEncrypted) {
    if (!settings_.networkKey) {
      if (!std::exchange(notes_.encryptedWithoutKey, true)) {
        log_.line("dropping encrypted frames: no network key is set (--network-key)");
      }
      return;
    }
    const std::span<std::uint8_t> buffer(receivedFrame_.data(), record.payload.size());
    std::copy(record.payload.begin(), record.payload.end(), buffer.begin());
    std::string err;
    const auto length =
        common::decryptFrame(*settings_.networkKey, buffer, record.header.plainLength, &err);
    if (!length) {
      if (!std::exchange(notes_.malformedEncrypted, true)) {
        log_.line("dropping malformed encrypted frames: " + err);
      }
      return;
    }
    frame = buffer.first(*length);
  }
  if (tap_.hasOffloads()) {
    coalescer_.add(frame);  // it copies what it keeps: the record's bytes go with the next receive
  } else {
    writeToTap(platform::TapOffload{}, frame);
  }
}

void TapRelay::writeToTap(const platform::TapOffload& offload,
                          std::span<const std::uint8_t> packet) {
  std::string err;
  if (!tap_.writePacket(offload, packet, &err) && !std::exchange(notes_.tapWriteFailed, true)) {
    log_.line("dropping frames for the TAP device: " + err);
  }
}

void TapRelay::waitBeforeReconnect() {
  const std::chrono::milliseconds wait = delay_.next(randomNumber());
  log_.line("reconnecting in " + secondsText(wait) + " s");
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, wait, [this] { return stopping_; });
}

void TapRelay::readTap() {
  for (;;) {
    std::string err;
    const platform::TapReadResult result = tap_.waitForFrames(&err);
    if (result == platform::TapReadResult::kWoken) {
      return;
    }
    if (result == platform::TapReadResult::kFailed) {
      tapFailed(err);
      return;
    }
    const std::lock_guard lock(tapSideMutex_);
    if (!relayReadyFrames()) {
      return;
    }
  }
}

void TapRelay::relayFramesWaiting() {
  // The TAP side's own thread may be the one relaying now; it takes what is left.
  if (!tapSideMutex_.try_lock()) {
    return;
  }
  const std::lock_guard lock(tapSideMutex_, std::adopt_lock);
  (void)relayReadyFrames();
}

bool TapRelay::relayReadyFrames() {
  std::string err;
  const platform::TapReadResult result = tap_.readReadyFrames(&tapBatch_, &err);
  if (result == platform::TapReadResult::kFailed) {
    tapFailed(err);
    return false;
  }
  if (result != platform::TapReadResult::kFrames) {
    return true;
  }
  std::shared_ptr<common::HubClient> client;
  {
    const std::lock_guard lock(mutex_);
    if (loggedIn_) {
      client = client_;
    }
  }
  if (!client) {
    return true;  // frames read while no connection is up have nowhere to go
  }
  if (!sendBatch(*client, tapBatch_, &err)) {
    {
      const std::lock_guard lock(mutex_);
      if (client == client_ && sendFailure_.empty()) {
        sendFailure_ = err;
      }
    }
    client->shutdown();  // the hub side sees the end and reconnects
  }
  return true;
}

void TapRelay::tapFailed(const std::string& err) {
  {
    const std::lock_guard lock(mutex_);
    if (std::exchange(tapFailed_, true)) {
      return;  // both sides saw it; one line tells
    }
  }
  log_.line("TAP device " + tap_.name() + " failed: " + err);
  stop();
}

void TapRelay::cutBatch(const platform::TapFrameBatch& batch, std::size_t room) {
  wireFrames_.clear();
  frameSpans_.clear();
  for (std::size_t i = 0; i < batch.size(); ++i) {
    std::string err;
    if (!splitter_.append(batch.offload(i), batch.frame(i), room, &wireFrames_, &frameSpans_,
                          &err)) {
      if (!std::exchange(droppedPacket_, true)) {
        log_.line("dropping packets from the TAP device: " + err);
      }
      continue;
    }
    // A frame longer than a record carries (from a device whose MTU is near 64 KiB) cannot go;
    // it is the last one appended, so its bytes go again at once.
    if (frameSpans_.back().length > common::kMaxFrameSize) {
      wireFrames_.resize(frameSpans_.back().offset - room);
      frameSpans_.pop_back();
      if (!std::exchange(droppedLongFrame_, true)) {
        log_.line("dropping frames longer than " + std::to_string(common::kMaxFrameSize) +
                  " bytes from the TAP device");
      }
    }
  }
}

bool TapRelay::sendBatch(common::HubClient& client, const platform::TapFrameBatch& batch,
                         std::string* err) {
  if (settings_.networkKey) {
    cutBatch(batch, 0);
    return sendEncrypted(client, err);
  }
  // Each frame is cut behind room for its record header, so the batch goes out as one block.
  cutBatch(batch, common::kRecordHeaderSize);
  for (const FrameSpan& span : frameSpans_) {
    common::RecordHeader header;
    header.payloadLength = static_cast<std::uint32_t>(span.length);
    header.kind = common::kKindPlainFrame;
    header.plainLength = header.payloadLength;
    const auto headerBytes = common::encodeRecordHeader(header);
    std::copy(headerBytes.begin(), headerBytes.end(),
              wireFrames_.begin() + static_cast<std::ptrdiff_t>(span.offset - headerBytes.size()));
  }
  return wireFrames_.empty() || client.sendRaw(wireFrames_, err);
}

bool TapRelay::sendEncrypted(common::HubClient& client, std::string* err) {
  sendRecords_.clear();
  for (const FrameSpan& span : frameSpans_) {
    const std::span<const std::uint8_t> frame(wireFrames_.data() + span.offset, span.length);
    const std::size_t payloadLength = common::encryptedPayloadSize(frame.size());
    if (payloadLength > common::kMaxFrameSize) {
      continue;  // padded, it no longer fits a record; a plain relay could not send it either
    }
    common::RecordHeader header;
    header.payloadLength = static_cast<std::uint32_t>(payloadLength);
    header.kind = common::kKindEncrypted;
    header.plainLength = static_cast<std::uint32_t>(frame.size());
    const auto headerBytes = common::encodeRecordHeader(header);
    const std::size_t start = sendRecords_.size();
    sendRecords_.insert(sendRecords_.end(), headerBytes.begin(), headerBytes.end());
    sendRecords_.insert(sendRecords_.end(), frame.begin(), frame.end());
    sendRecords_.resize(start + common::kRecordHeaderSize + payloadLength);
    const std::span<std::uint8_t> payload(sendRecords_.data() + start + common::kRecordHeaderSize,
                                          payloadLength);
    if (!common::encryptFrame(*settings_.networkKey, payload, frame.size(), err)) {
      return false;
    }
  }
  return sendRecords_.empty() || client.sendRaw(sendRecords_, err);
}

}  // namespace korvane::tools
