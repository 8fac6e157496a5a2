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
#include "tools/kvtap/ReconnectDelay.h"

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
/// run(); a second, started by run(), reads the TAP device.
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
  void writeToTap(const common::ReceivedRecord& record, SessionNotes* notes);
  void waitBeforeReconnect();
  void setCurrent(std::shared_ptr<common::HubClient> client, bool loggedIn);

  void readTap();
  bool sendBatch(common::HubClient& client, const platform::TapFrameBatch& batch, std::string* err);
  bool sendEncrypted(common::HubClient& client, const platform::TapFrameBatch& batch,
                     std::string* err);

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
  std::vector<std::uint8_t> sendRecords_;    // TAP side: encrypted records of one batch
  std::vector<std::span<const std::uint8_t>> sendFrames_;  // TAP side: plain frames of a batch
};

}  // namespace korvane::tools
