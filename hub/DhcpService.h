#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/DhcpFiles.h"
#include "common/SealedField.h"
#include "hub/DhcpFrame.h"
#include "hub/DhcpLeases.h"
#include "hub/DomainDhcp.h"
#include "hub/LeaseWriter.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// Lease time when the settings name none: three days.
inline constexpr std::uint32_t kDefaultLeaseTime = common::kDefaultDhcpLeaseSeconds;
/// Shortest lease time handed out, so that clients do not renew every few seconds.
inline constexpr std::uint32_t kMinLeaseTime = 60;
/// The address texts of the settings are read into 128-byte buffers: at most 127 characters.
using common::kDhcpSettingBufferBytes;
// The names of a domain's settings section and lease file (common/DhcpFiles.h) are shared with
// the panel.
using common::dhcpLeaseFileName;
using common::dhcpSettingsSection;
using common::domainFileText;
using common::kDomainTextMaxBytes;

/// The DHCP service of one domain of a hub: hands out the addresses of its pool to the
/// domain's stations, keeps their leases (mirrored in the domain's lease file), and answers
/// ARP for its own address, the pool's upper end, as 52:00:00:00:00:01. Stations may encrypt
/// their frames with the domain's network key; the service decrypts what it examines and
/// encrypts its replies the same way.
///
/// handleFrame and addressTextOf run on the connection threads under the DhcpDomains lock;
/// the lease list has its own lock, and they never touch the disk: a lease change only marks
/// the lease file for the hub's lease writer. loadSettings is called before the service is
/// shared.
class DhcpService final : public DomainDhcp {
 public:
  /// A disabled service without leases, lease time 259200 s, for the domain `domain` (empty for
  /// the global domain) of hub `hubNumber`, whose settings and lease files lie in
  /// `iniDirectory` (ending in '/'); lease times are taken from `clock`, and lease changes are
  /// written by `writer` (null: only by saveLeases).
  DhcpService(std::string iniDirectory, int hubNumber, std::u16string domain,
              const platform::Clock& clock, std::shared_ptr<LeaseWriter> writer);

  /// The domain's text, empty for the global domain.
  const std::u16string& domain() const { return domain_; }
  /// The number of the hub the service belongs to.
  int hubNumber() const { return hubNumber_; }
  /// The path of the settings file "%04d_dhcp.ini".
  const std::string& settingsPath() const { return settingsPath_; }
  /// The path of the lease file; empty when the domain's text cannot name a file (an unpaired
  /// surrogate or a '/'), whose leases then live in memory only.
  const std::string& leasePath() const { return leases_.path(); }

  /// Reads the domain's section of the settings file. The service is enabled only when
  /// DHCPFlag is "TRUE" and the lower address, the upper address and the mask are valid
  /// dotted addresses, neither 0.0.0.0 nor 255.255.255.255, with the lower not above the upper;
  /// anything else, a missing file included, leaves it disabled (never an error).
  void loadSettings();

  /// Replaces the leases by the lease file's; a missing file gives none. False with a message
  /// only when the lease list stayed locked.
  [[nodiscard]] bool loadLeases(std::string* err);
  /// Writes the leases to the lease file now. False with a message when it cannot be written.
  [[nodiscard]] bool saveLeases(std::string* err);

  /// True when `other` has the same enabled flag, address and mask texts, lease time and
  /// network key, so that it would serve the domain exactly as this one does.
  bool sameSettings(const DhcpService& other) const;

  /// Whether the last loadSettings found valid settings with DHCPFlag "TRUE".
  bool enabled() const { return enabled_; }
  /// Seconds a lease lasts.
  std::uint32_t leaseTime() const { return leaseTime_; }
  /// The service's own address, the pool's upper end (first dotted number in the top byte).
  std::uint32_t ownAddress() const { return pool_.upper; }
  /// The addresses handed out; empty while disabled.
  const DhcpPool& pool() const { return pool_; }
  /// The domain's network key; 16 zero bytes when the settings hold none.
  const common::NetworkKey& networkKey() const { return networkKey_; }
  /// A copy of the leases in order.
  std::vector<DhcpLease> leases() const { return leases_.leases(); }

  /// The address leased to `mac` as "%d.%d.%d.%d"; empty when it has none.
  std::string addressTextOf(std::span<const std::uint8_t, 6> mac) override;

  /// Examines one record from a station: answers an ARP request for the own address and DHCP
  /// DISCOVER and REQUEST messages (kReply, the reply record in `reply`), drops DHCP traffic
  /// when `blockDhcp` is set (kDrop), handles a RELEASE, and lets everything else pass
  /// (kSwitch), malformed records included. `addressText` gets the address an OFFER or ACK
  /// hands out.
  DhcpExamination handleFrame(std::span<const std::uint8_t> record, bool blockDhcp,
                              std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                              std::string* addressText) override;

 private:
  struct OpenedRecord;

  std::optional<OpenedRecord> openRecord(std::span<const std::uint8_t> record,
                                         std::span<std::uint8_t> work) const;
  DhcpExamination answerDhcp(const OpenedRecord& opened, std::span<std::uint8_t> work,
                             std::string* addressText);
  std::optional<DhcpAnswer> answerRequest(const DhcpRequest& request);
  DhcpExamination finishReply(const OpenedRecord& opened, std::span<std::uint8_t> work,
                              std::size_t frameLength) const;
  void disable();

  const std::string settingsPath_;
  const std::optional<std::string> domainText_;
  const int hubNumber_;
  const std::u16string domain_;
  const platform::Clock& clock_;

  bool enabled_ = false;
  std::string lowerText_;
  std::string upperText_;
  std::string maskText_;
  DhcpPool pool_;
  std::uint32_t subnetMask_ = 0;
  std::uint32_t leaseTime_ = kDefaultLeaseTime;
  common::NetworkKey networkKey_{};
  DhcpLeases leases_;
};

}  // namespace korvane::hub
