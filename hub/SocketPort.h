#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "hub/HubLogger.h"
#include "hub/MacTable.h"
#include "hub/PortConnection.h"
#include "hub/SendQueue.h"
#include "platform/Clock.h"
#include "platform/TcpConnection.h"

namespace korvane::hub {

/// Where a port is in its life.
enum class PortState : int {
  kCreated = 0,   ///< made by the listener
  kAdmitted = 1,  ///< the filter let it in; it is in the port manager
  kLoggedIn = 2,  ///< LOGIN_OK was sent: it receives data records and counts as a connection
};

/// The log name, host name and numeric address are kept in 256-byte fields: 255 characters.
inline constexpr std::size_t kPortTextMax = 255;
/// The address a port shows in the connection list is at most 127 characters.
inline constexpr std::size_t kAddressTextMax = 127;
/// The byte counters stop here and stay (twelve nines: what the connection list can show).
inline constexpr double kByteCounterCap = 999999999999.0;
/// Host name of a port until its name is looked up, and when the lookup finds none.
inline constexpr std::string_view kUnknownHost = "unknown";

/// Which slot of the port manager holds a port. Each port carries it, so that the switch finds a
/// receiver's slot without searching; only the port manager reads or changes it, under its lock.
class SwitchSlot {
 private:
  friend class PortManager;
  static constexpr int kNone = -1;
  int index_ = kNone;
};

/// One client connection of the hub: its stream, identity, counters and login state, the
/// synchronous path for its own answers (control records) and the queued path for data records
/// that other ports' threads switch to it. Shared by its port thread, its name-resolution
/// thread and the port manager; everything here may be read from any thread.
class SocketPort {
 public:
  /// A port for the connection `connection` from `peer`, with host name "unknown" and the log
  /// name "[unknown] address:port"; its connect tick is taken from `clock`, and its send errors
  /// go to `log`.
  SocketPort(const platform::Clock& clock, std::shared_ptr<HubLogger> log,
             std::unique_ptr<PortConnection> connection, platform::PeerAddress peer);
  ~SocketPort();
  SocketPort(const SocketPort&) = delete;
  SocketPort& operator=(const SocketPort&) = delete;

  const platform::PeerAddress& peer() const { return peer_; }
  /// "[host] address:port", the prefix of every line the hub logs about this connection.
  std::string logName() const;
  std::string hostName() const;
  const std::string& numericAddress() const { return numericAddress_; }

  /// Stores the looked-up host name, rebuilds the log name with it and wakes waitForHostName().
  /// A name that arrives after the port thread stopped waiting only changes later log lines.
  void setHostName(std::string_view hostName);
  /// Waits at most `limit` for setHostName(); false on time-out.
  bool waitForHostName(std::chrono::milliseconds limit);

  /// The address shown in the connection list ("Bridge", a leased address, or empty).
  std::string addressText() const;
  /// Applies a new address text: empty changes nothing; "---.---.---.---" replaces only an
  /// empty text or itself; anything else replaces the text, cut to kAddressTextMax.
  void updateAddressText(std::string_view text);

  platform::Tick connectTick() const { return connectTick_; }
  PortState state() const { return state_.load(); }
  /// Marks the port as admitted by the filter.
  void admit() { state_ = PortState::kAdmitted; }
  /// Marks the port logged in and sends `loginOk`; data records switched to the port from then
  /// on follow that record, and none is lost in between. False when the stream failed.
  bool logIn(std::span<const std::uint8_t> loginOk);

  bool keepAlive() const { return keepAlive_.load(); }
  void setKeepAlive() { keepAlive_ = true; }
  platform::Tick lastReceiveTick() const { return lastReceiveTick_.load(); }
  void setLastReceiveTick(platform::Tick tick) { lastReceiveTick_ = tick; }

  bool guest() const { return guest_.load(); }
  void setGuest(bool guest) { guest_ = guest; }
  bool bridgeAllow() const { return bridgeAllow_.load(); }
  void setBridgeAllow(bool allow) { bridgeAllow_ = allow; }
  int domainIndex() const { return domainIndex_.load(); }
  void setDomainIndex(int index) { domainIndex_ = index; }
  std::u16string accountName() const;
  /// Stores the account of the login and the domain it belongs to.
  void setAccount(std::u16string_view name, int domainIndex);
  /// How many addresses the port holds in the MAC table; kept by the table under its lock.
  MacShare& macShare() const { return macShare_; }
  /// The slot the port is in; kept by the port manager under its lock.
  SwitchSlot& switchSlot() const { return switchSlot_; }

  double bytesSent() const { return bytesSent_.load(); }
  double bytesReceived() const { return bytesReceived_.load(); }
  /// Counts `bytes` of data records received from the client, up to kByteCounterCap.
  void addBytesReceived(std::size_t bytes);
  /// Data bytes queued for the client and not yet written.
  std::size_t pendingSendBytes() const { return sendQueue_.pendingBytes(); }

  /// Sends the client `records` (whole data records, `total` bytes, in the order given) in one
  /// batch, if it is logged in. Called by other ports' threads under the port manager's lock;
  /// never blocks on the client.
  SendResult sendData(std::span<const std::span<const std::uint8_t>> records, std::size_t total);
  /// Sends one control record to the client after what is already queued and waits until it
  /// is written; false when the stream failed or the port is ending.
  bool sendControlData(std::span<const std::uint8_t> record);

  /// Has `writer` drain queued data as the client reads; false once the port is ending.
  [[nodiscard]] bool startSending(SendWriter& writer) { return sendQueue_.startWriter(writer); }
  /// Receives into `buffer`; see PortConnection::receive.
  long receive(std::span<std::uint8_t> buffer) { return connection_->receive(buffer); }

  /// Ends the connection on the hub's behalf, from any thread: the port thread's receive
  /// returns and it logs the end as a cut. Harmless on a port that is already ending.
  void cut();
  bool wasCut() const { return cut_.load(); }

  /// Port thread, clean-up: shuts the stream down and stops sending; after this no thread
  /// writes to the stream.
  void endConnection();
  /// Port thread, last: releases the stream, once the port manager no longer holds the port.
  void closeConnection() { connection_->close(); }

 private:
  void reportSendError(int error);
  std::string buildLogName() const;

  const std::shared_ptr<HubLogger> log_;
  const std::unique_ptr<PortConnection> connection_;
  const platform::PeerAddress peer_;
  const std::string numericAddress_;
  const platform::Tick connectTick_;
  SendQueue sendQueue_;

  mutable std::mutex namesMutex_;  // a leaf: nothing else is taken while it is held
  std::condition_variable hostNameSet_;
  bool hostNameKnown_ = false;
  std::string hostName_;
  std::string logName_;
  std::string addressText_;
  std::u16string accountName_;

  std::atomic<PortState> state_{PortState::kCreated};
  std::atomic<bool> keepAlive_{false};
  std::atomic<platform::Tick> lastReceiveTick_{0};
  std::atomic<bool> guest_{false};
  std::atomic<bool> bridgeAllow_{true};
  std::atomic<int> domainIndex_{0};
  std::atomic<double> bytesSent_{0.0};
  std::atomic<double> bytesReceived_{0.0};
  std::atomic<bool> cut_{false};
  mutable MacShare macShare_;      // the MAC table's bookkeeping, not the port's state
  mutable SwitchSlot switchSlot_;  // the port manager's bookkeeping, not the port's state
};

}  // namespace korvane::hub
