#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/HttpClient.h"
#include "platform/AdapterList.h"

/// One call of the dynamic DNS service: the address hidden in the pass code, with this
/// machine's adapter address appended; its outcome goes into the DNS log.
namespace korvane::manager {

/// What an update ended with (the manager only logs it; the DNS log tells the panel).
enum class DnsUpdateResult {
  kSuccess = 0,
  kNoCommunication = 2,
  kInvalidReply = 13,
  kPassCodeRefused = 16,  ///< not usable, or not accepted by the service
  kPassCodeInUse = 17,    ///< used by another device
};

/// The adapter address sent when no adapter qualifies.
inline constexpr std::string_view kNoAdapterAddress = "00:00:00:00:00:00";
/// The update address with the adapter address appended is at most this long: the service's
/// addresses are far shorter, and the client's buffer holds 2048 bytes.
inline constexpr std::size_t kMaxUpdateUrlLength = 2047;
/// The part of the service's reply that the update looks at and keeps for the panel.
inline constexpr std::size_t kUpdateReplyBufferSize = 1024;

/// DNS log texts.
inline constexpr std::string_view kUndecryptableText =
    "ERROR: Could not decrypt DNS Update Pass Code.";
inline constexpr std::string_view kNoCommunicationText =
    "ERROR: Could not communicate with the server.";
inline constexpr std::string_view kCodeNotCorrectText = "ERROR: UpdateCode is not correct.";
inline constexpr std::string_view kCodeInUseText = "ERROR: UpdateCode is used by another device.";
inline constexpr std::string_view kInvalidReplyText = "ERROR: Server returned an invalid response.";

/// How an update is made; the defaults are the manager's.
struct DnsUpdateSettings {
  std::string logPath;                  ///< the DNS log
  std::ostream* diagnostics = nullptr;  ///< the unscrambling's lines, in the foreground only
  std::chrono::milliseconds connectLimit = common::kHttpConnectLimit;
  std::chrono::milliseconds totalLimit = common::kHttpTotalLimit;
  const std::atomic<bool>* cancel = nullptr;  ///< set when the manager stops
  /// The adapter address text; the machine's own when empty.
  std::function<std::string()> adapterAddress;
};

/// "%02x:%02x:%02x:%02x:%02x:%02x" of the first Ethernet or PPP adapter with a six-byte,
/// globally administered hardware address; kNoAdapterAddress when none qualifies.
std::string chooseAdapterAddress(const std::vector<platform::Adapter>& adapters);

/// Unscrambles `passCode`, calls its address with "&mac_address=" and the adapter address
/// appended, and leaves the outcome in the DNS log: the reply when it contains "OK", else one
/// error line (an empty log for a pass code that does not decode). A pass code whose address is
/// not http or https makes no request.
DnsUpdateResult runDnsUpdate(std::string_view passCode, const DnsUpdateSettings& settings);

}  // namespace korvane::manager
