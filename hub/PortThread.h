#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/ClientRecord.h"
#include "common/RunThread.h"
#include "hub/ConnectionContext.h"
#include "hub/EthernetAddress.h"
#include "hub/SocketPort.h"
#include "platform/Clock.h"

namespace korvane::hub {

class AccountStore;
class HostFilter;
class PortManager;

/// Bytes a port receives into: the longest record a client can send, header included. A longer
/// record never completes, and the connection ends once the buffer is full.
inline constexpr std::size_t kReceiveBufferSize = 65536;
/// How long a new connection waits for its host name before it logs itself without one.
inline constexpr std::chrono::milliseconds kHostNameWait{2000};
/// A refused login is answered this late, so that guessing answers costs a client its time.
inline constexpr std::chrono::milliseconds kRefusedLoginDelay{5000};
/// The pause between the last word to a refused client and the end of its connection.
inline constexpr std::chrono::milliseconds kCloseDelay{500};
/// Receive passes in which the port asks its domain's DHCP service for the address leased to
/// the client, until it has one.
inline constexpr int kAddressLookups = 5;
/// Longest account name the login line shows, in bytes of UTF-8.
inline constexpr std::size_t kLoggedAccountNameMax = 254;

/// The thread of one client connection: admits it through the host filter, cuts the byte
/// stream into records and decides each record's fate once (answered: login, authentication,
/// keep-alive, DHCP; dropped; or switched), learns the stations behind the client, hands the
/// records to switch of each receive pass to the port manager together, learns the client's
/// address text after the pass, and cleans the port up when the connection ends. With
/// authentication on, the frames of a client that has not logged in are dropped unseen.
class PortThread {
 public:
  /// The thread for `port`, using the hub's accounts, filter, switch and DHCP domains.
  PortThread(ConnectionContext hub, std::shared_ptr<SocketPort> port);

  /// Serves the connection until it ends, then cleans up; the thread's entry. An exception that
  /// escapes ends the process with the "Catch Exception in PortThread" lines.
  void run();

 private:
  enum class Next { kGoOn, kEnd };

  /// What becomes of one record of a receive pass; each record gets one, from judge().
  enum class Fate {
    kSwitch,    ///< handed to the port manager with the pass's other records to switch
    kAnswered,  ///< answered by the hub (login, keep-alive, DHCP): it goes no further
    kDropped,   ///< goes nowhere (see judge())
    kEnd,       ///< ends the connection; the rest of the pass is not looked at
  };

  /// What the frames of one pass showed of the client's address, applied after the pass.
  struct AddressClues {
    std::optional<MacAddress> firstSource;  ///< the source of the pass's first frame
    bool bridged = false;  ///< a frame from a bridged network showed for the first time
    bool replied = false;  ///< the DHCP service answered a frame
    std::string shown;     ///< "Bridge" or a handed-out address, whichever came last
  };

  void serve();
  bool admit();
  void receiveUntilEnd();
  Next handleBuffer();
  Next handlePass(const common::ParseResult& parse);
  std::span<const std::uint8_t> recordAt(std::size_t index) const;
  Fate judge(std::span<const std::uint8_t> record, AddressClues& clues);
  static bool isAnsweredByTheHub(std::uint32_t controlType);
  bool mayUseTheSwitch() const;
  Fate answerControl(std::span<const std::uint8_t> record, std::uint32_t type);
  void answerKeepAlive(std::span<const std::uint8_t> record);
  void handleLogin(std::span<const std::uint8_t> record);
  Next handleAuthAnswer(std::span<const std::uint8_t> record);
  Next refuseLogin(std::span<const std::uint8_t> record, bool authenticated);
  void acceptLogin(std::u16string_view accountName);
  Fate judgeFrame(std::span<const std::uint8_t> record, AddressClues& clues);
  Fate examineWithDhcp(std::span<const std::uint8_t> record, AddressClues& clues);
  void learnAddressText(const AddressClues& clues, std::span<const std::uint8_t> first);
  std::string leasedAddressOf(const MacAddress& station) const;
  void cleanUp();

  void logLine(std::string_view suffix);

  const ConnectionContext hub_;
  const std::shared_ptr<SocketPort> connection_;
  PortManager* const portManager_;
  AccountStore* const accounts_;

  // Left uninitialised: the pages a client never fills (an idle one's keep-alives fill the
  // first) take no memory, which is most of a hub of many quiet clients.
  std::unique_ptr<std::uint8_t[]> bufferStorage_;
  std::span<std::uint8_t> buffer_;
  std::size_t fill_ = 0;
  std::array<common::RecordSpan, common::kMaxRecordsPerPass> spans_{};
  std::array<std::span<const std::uint8_t>, common::kMaxRecordsPerPass> switched_{};

  std::optional<std::array<std::uint8_t, common::kChallengeSize>> challenge_;
  std::u16string loginName_;  // the account counted by acquire(), released at clean-up
  bool bridgeSeen_ = false;
  bool addressKnown_ = false;
  bool addressFound_ = false;
  int addressLookups_ = 0;
  platform::Tick passTick_ = 0;  // when the current receive pass came in
  common::ThreadProgress progress_{"PortThread"};
};

}  // namespace korvane::hub
