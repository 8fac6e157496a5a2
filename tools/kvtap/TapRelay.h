#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/HubClient.h"
#include "common/SealedField.h"
#include "platform/TapDevice.h"
#include "tools/kvtap/EventLog.h"
#include "tools/kvtap/FrameSplitter.h"
#include "tools/kvtap/ReconnectDelay.h"
#include "tools/kvtap/TcpCoalescer.h"

namespace korvane::tools {

/// Frames read from the TAP device and sent to the hub in one write at most: a quarter of the
/// 256 records that the hub handles in one pass, so that a busy client fills hub passes without
/// holding frames back for long.
inline constexpr std::size_t kTapBatchFrames = 64;

/// What a relay connects to and how.
struct RelaySettings {
  std::string hubHost;
  int hubPort = 0;
  std::string hubDisplay;  ///< how log lines name the hub: "198.18.0.1:7470"
  std::optional<common::Credentials> credentials;
  std::optional<common::NetworkKey> networkKey;
  std::chrono::milliseconds keepAlive{10000};
};

/// Joins a TAP device to a hub: logs in, relays frames both ways (encrypting them with the
/// network key when one is set), sends keep-alives, and reconnects with back-off whenever the
/// connection ends or the login fails, until stop() is called. One thread runs the hub side in
/// run(); a second, started by run(), waits for the TAP device and relays its frames. The hub
/// side, having written frames to the device, relays what the kernel answered at once itself
/// (an echo reply, an ACK), so that an answer does not wait for the second thread to wake; reading
/// and sending a batch happen under one lock, so frames keep their order either way. With a device
/// that has offloads, the TAP side cuts the kernel's large TCP segments into ordinary frames before
/// they go to the hub, and the hub side joins consecutive frames of a TCP connection before they go
/// to the device: the hub and the other clients see the same frames either way.
class TapRelay {
 public:
  TapRelay(RelaySettings settings, platform::TapDevice& tap, EventLog& log);
  TapRelay(const TapRelay&) = delete;
  TapRelay& operator=(const TapRelay&) = delete;

  /// Relays until stop(); returns 0 after stop(), 1 when the TAP device failed (logged).
  int run();

  /// Ends run() soon: cuts the connection, wakes every wait. Safe from any thread, also before
  /// run() has started.
  void stop();

 private:
  /// What one connection has already reported, so that a flood of bad frames logs one line.
  struct SessionNotes {
    bool encryptedWithoutKey = false;
    bool malformedEncrypted = false;
    bool tapWriteFailed = false;
  };

  bool stopping() const;
  void runSession();
  bool logIn(common::HubClient& client);
  void announceStation(common::HubClient& client);
  std::string relayFromHub(common::HubClient& client);
  void takeRecord(const common::ReceivedRecord& record);
  void writeToTap(const platform::TapOffload& offload, std::span<const std::uint8_t> packet);
  void waitBeforeReconnect();
  void setCurrent(std::shared_ptr<common::HubClient> client, bool loggedIn);

  void readTap();
  void relayFramesWaiting();
  bool relayReadyFrames();
  void tapFailed(const std::string& err);
  void cutBatch(const platform::TapFrameBatch& batch, std::size_t room);
  bool sendBatch(common::HubClient& client, const platform::TapFrameBatch& batch, std::string* err);
  bool sendEncrypted(common::HubClient& client, std::string* err);

  const RelaySettings settings_;
  platform::TapDevice& tap_;
  EventLog& log_;
  ReconnectDelay delay_;  // hub side only

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;                      // under mutex_
  bool tapFailed_ = false;                     // under mutex_
  std::shared_ptr<common::HubClient> client_;  // the connection being set up or used; mutex_
  bool loggedIn_ = false;                      // whether client_ takes frames; under mutex_
  std::string sendFailure_;  // why the TAP side's send to client_ failed; under mutex_

  std::vector<std::uint8_t> receivedFrame_;  // hub side: a frame being decrypted
  TcpCoalescer coalescer_;                   // hub side, with offloads
  SessionNotes notes_;                       // hub side: what this connection has reported

  std::mutex tapSideMutex_;  // one relay of TAP frames at a time: guards what follows
  platform::TapFrameBatch tapBatch_{kTapBatchFrames};
  FrameSplitter splitter_;
  std::vector<std::uint8_t> wireFrames_;   // TAP side: the frames of one batch (with room)
  std::vector<FrameSpan> frameSpans_;      // TAP side: where they lie
  std::vector<std::uint8_t> sendRecords_;  // TAP side: encrypted records of one batch
  bool droppedPacket_ = false;             // TAP side: a packet that could not be cut was logged
  bool droppedLongFrame_ = false;          // TAP side: a frame too long for a record was logged
};

}  // namespace korvane::tools
