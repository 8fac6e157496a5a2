#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/UpnpDescription.h"
#include "common/UpnpHttp.h"
#include "common/UpnpSoap.h"
#include "platform/AdapterList.h"
#include "platform/Clock.h"

// The UPnP port-mapping client of the hub and the administration tools: each operation finds the
// router anew (discovery, description) and then sends its one action.
namespace korvane::common {

/// The waits of one operation. Tests shorten them; the defaults are what a home router needs.
struct UpnpLimits {
  /// For the first answer to the discovery search (routers answer within the search's MX of 3 s;
  /// 10 s leaves room for a busy one).
  std::chrono::milliseconds discoveryWait{10000};
  /// For the first piece of the device description.
  std::chrono::milliseconds descriptionWait{10000};
  /// For each further piece of an answer, and for the first piece of a SOAP answer.
  std::chrono::milliseconds pieceWait{5000};
  /// For a whole HTTP answer, so that a router that sends a byte now and then cannot hold the
  /// caller longer than this.
  std::chrono::milliseconds answerWait{20000};
};

/// The answer to "is the port mapped to this computer?".
enum class UpnpCheck {
  kMapped,     ///< to this computer's address and the given internal port, for long enough
  kElsewhere,  ///< to another computer or port, or it runs out before the next check
  kMissing,    ///< the router has no mapping for the port
  kFailed,     ///< the router could not be found or asked
};

/// The router as one discovery found it.
struct UpnpRouter {
  UpnpService service;
  std::string routerAddress;  ///< the description's host, dotted
  std::string ownAddress;     ///< this computer's address in the router's subnet; empty if none
};

/// An HTTP answer of the router: its status and body.
struct UpnpAnswer {
  int status = 0;
  std::string body;
};

/// A mapping lease shorter than this is renewed: the hub checks once an hour, so a lease that
/// ends before the check after next would leave the port closed for up to an hour.
inline constexpr std::chrono::seconds kLeaseRenewBelow = std::chrono::hours(2);
/// The lease asked for when the router refuses an unlimited one: a week, the longest that
/// routers of the second device version grant.
inline constexpr std::chrono::seconds kFiniteLease = std::chrono::hours(24 * 7);

/// The address of the first adapter (in `adapters` order) with a nonzero IPv4 address in the same
/// subnet as `router`; empty when there is none.
std::optional<std::uint32_t> ownAddressFor(std::uint32_t router,
                                           const std::vector<platform::Adapter>& adapters);

/// The UPnP client; one object per thread that uses it (it keeps the router it found last).
class UpnpClient {
 public:
  /// `stopRequested`, when given, is asked while waiting; once it says true the operation ends
  /// within 100 ms as failed.
  explicit UpnpClient(UpnpLimits limits = {}, std::function<bool()> stopRequested = {},
                      const platform::Clock& clock = platform::systemClock());

  /// Maps external TCP `port` to `internalPort` of this computer. A mapping of the port to
  /// another computer is deleted and made again for this one, where the router allows it. False
  /// with the reason (and a router's fault code) in `err`.
  [[nodiscard]] bool addMapping(int port, int internalPort, std::string* err);
  /// Whether the router maps TCP `port` to `internalPort` of this computer; the reason in `err`
  /// for anything but kMapped.
  UpnpCheck checkMapping(int port, int internalPort, std::string* err);
  /// Deletes the router's mapping of TCP `port`. False with the reason in `err`.
  [[nodiscard]] bool deleteMapping(int port, std::string* err);
  /// The router's external address; empty with the reason in `err`.
  std::optional<std::string> externalAddress(std::string* err);

  /// Finds the router and its port-mapping service. Empty with the reason in `err`.
  std::optional<UpnpRouter> discover(std::string* err);
  /// Sends one SOAP action with `body` to the router's service. Empty with the reason in `err`
  /// when no answer was read; a fault is an answer (status 500).
  std::optional<UpnpAnswer> callAction(const UpnpRouter& router, UpnpAction action,
                                       const std::string& body, std::string* err);

  /// The router's address that the last discovery found, empty before.
  const std::string& cachedRouter() const { return routerCache_; }

 private:
  std::optional<UpnpAnswer> exchange(const UpnpEndpoint& endpoint, const std::string& request,
                                     std::chrono::milliseconds firstWait, std::string* err);
  std::optional<std::string> search(std::string* err);
  bool stopped() const { return stopRequested_ && stopRequested_(); }
  bool sendMapping(const UpnpRouter& router, int port, int internalPort,
                   std::chrono::seconds lease, int* fault, std::string* err);

  UpnpLimits limits_;
  std::function<bool()> stopRequested_;
  const platform::Clock& clock_;
  std::string routerCache_;
};

/// "SOAP fault 718" or "status 404": why an answer of `action` is not a success.
std::string describeRefusal(UpnpAction action, const UpnpAnswer& answer);

}  // namespace korvane::common
