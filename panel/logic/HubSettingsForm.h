#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/ManagerConfig.h"
#include "common/SealedField.h"

/// The rules of the hub settings dialog that do not depend on a window: what each DHCP option
/// enables, the lease time in days, hours and minutes, the field helpers and the checks of OK.
namespace korvane::panel {

/// The DHCP option of the selected domain.
enum class DhcpMode {
  kNone,      ///< the hub neither serves nor blocks DHCP for the domain
  kBlocking,  ///< the hub drops the domain's DHCP requests
  kService,   ///< the hub's own DHCP service answers them
};

/// Which DHCP controls an option enables: the range, mask and lease time, and the key.
struct DhcpControlStates {
  bool range = false;
  bool key = false;
};

/// Service on enables everything, blocking only the key (a blocking domain still encrypts its
/// frames), no service nothing.
DhcpControlStates dhcpControlStates(DhcpMode mode);

/// A lease time as the dialog shows it.
struct LeaseTime {
  int days = 0;
  int hours = 0;    ///< 0..23 when split from seconds
  int minutes = 0;  ///< 0..59 when split from seconds
};

/// `seconds` split into whole days, hours and minutes; leftover seconds are dropped.
LeaseTime splitLeaseTime(int seconds);
/// The seconds of `time`: days × 86400 + hours × 3600 + minutes × 60.
int leaseSeconds(const LeaseTime& time);

/// The highest hour and minute the lease fields take; a larger one is set to these on leaving.
inline constexpr int kMaxLeaseHours = 23;
inline constexpr int kMaxLeaseMinutes = 59;
/// The longest log retention in months a hub keeps (ten years); the field takes three digits, so
/// a larger number is set to this on leaving.
inline constexpr int kMaxLogMonths = common::kPanelMaxGarbageMonths;

/// The classful mask of the address typed as the lower end of the range: "255.0.0.0" for a
/// first number below 128, "255.255.0.0" below 192, "255.255.255.0" below 224; std::nullopt
/// (the mask stays) for anything else, a text without a leading number included.
std::optional<std::string> classfulMask(std::string_view lowerAddress);

/// `text` as a number field shows it after the focus left it: the decimal text of `highest`
/// when it holds a larger number, else unchanged.
std::string clampedNumberText(std::string_view text, int highest);

/// The key field's text while a key is stored: the key itself is never shown, and leaving this
/// text in place keeps it.
inline constexpr std::string_view kForbiddenKeyText = " <Forbidden>";

/// What the key field asks of the stored key.
enum class KeyEntry {
  kNone,    ///< empty: the domain has no key
  kKeep,    ///< kForbiddenKeyText left in place
  kNewKey,  ///< 32 upper-case hexadecimal digits
  kInvalid,
};

/// How the key field's `text` reads; `key` receives the bytes of a new key.
KeyEntry readKeyEntry(std::string_view text, common::NetworkKey* key);

/// The 32 upper-case hexadecimal digits of the MD5 digest of `text`'s bytes, as the key
/// generator makes a key from a phrase; std::nullopt only when libcrypto fails.
std::optional<std::string> keyFromPhrase(std::string_view text);

/// The dialog's fields as typed. Number fields take digits only; an empty one reads as 0.
struct HubSettingsForm {
  std::string name;
  std::string port;
  std::string maxConnections;
  bool authentication = false;
  std::string logDays;
  std::string logMonths;
  DhcpMode dhcpMode = DhcpMode::kNone;
  std::string lowerAddress;
  std::string upperAddress;
  std::string subnetMask;
  std::string leaseDays;
  std::string leaseHours;
  std::string leaseMinutes;
  std::string key;
};

/// A number field's value: its leading decimal digits, 0 when it has none.
int fieldNumber(std::string_view text);

/// The string that OK shows for the first check `form` fails, in the dialog's order: connection
/// limit below 1, key, name of another hub, port above 65535 or of another hub, lower address,
/// upper address, mask, connection limit above 512; std::nullopt when every check passes.
/// Names and ports are compared with those of the other hubs in `config`.
std::optional<int> firstRefusal(const HubSettingsForm& form, int hubNumber,
                                const common::ManagerConfig& config);

}  // namespace korvane::panel
