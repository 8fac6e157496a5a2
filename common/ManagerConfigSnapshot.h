#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ManagerConfigFormat.h"
#include "platform/ProfileSections.h"

namespace korvane::common {

/// How long the daily logs of a hub are kept.
struct LogRetention {
  int months = 1;
  int days = 0;
};

/// Buffer the hub name is read into: names are cut to 255 bytes.
inline constexpr std::size_t kHubNameBufferSize = 256;
/// Buffer every other value is read into (1023 characters and the terminating zero).
inline constexpr std::size_t kValueBufferSize = 1024;
/// Longest daily log retention in months that the panel shows and writes (ten years).
inline constexpr int kPanelMaxGarbageMonths = 120;
/// Longest daily log retention in days that the panel shows and writes: four digits.
inline constexpr int kPanelMaxGarbageDays = 9999;

/// The manager configuration file as one reading of it found it: every value of one logical
/// read (the hubs with their Status, a hub's whole section) comes from the same version of the
/// file, never from two versions written in between. The readers apply the panel's defaults and
/// ranges; a missing section or key gives the default, a value out of range its fallback.
class ManagerConfigSnapshot {
 public:
  /// The file at `path` read once; a missing file reads as an empty one. std::nullopt with
  /// "cannot read PATH: reason" in `err` (when not null) when the file exists but is refused or
  /// unreadable (not a regular file, larger than the readers take, no permission).
  static std::optional<ManagerConfigSnapshot> read(const std::string& path, std::string* err);

  /// The snapshot of a file's `text`.
  explicit ManagerConfigSnapshot(std::string_view text) : sections_(text) {}

  /// The sections, for readers with rules of their own (the hub's ranges).
  const platform::profile::ProfileSections& sections() const { return sections_; }

  /// The numbers of all hub sections in file order, at most `capacity`.
  std::vector<int> listHubs(std::size_t capacity = kHubListCapacity) const;

  /// The hub's name, cut to 255 bytes; empty when it has none.
  std::string readName(int hubNumber) const;
  /// True for Status "ON", false for "OFF"; empty when Status is missing or anything else.
  std::optional<bool> readStatus(int hubNumber) const;
  /// The hub's PortNo, 0 when missing.
  int readPort(int hubNumber) const;
  /// The hub's AuthFlag, 0 when missing.
  int readAuthFlag(int hubNumber) const;
  /// The hub's MaxCon, 512 when missing or outside 1..512.
  int readMaxConnections(int hubNumber) const;
  /// The hub's SNATPort, 0 when missing or outside 1..65535.
  int readSnatPort(int hubNumber) const;
  /// GarbageMonths (1 when missing, 0 when outside 0..120) and GarbageDays (0 when missing or
  /// outside 0..9999).
  LogRetention readLogRetention(int hubNumber) const;
  /// The DHCP block flag of `domain` ("" or "-Global-" for the global domain), 0 when missing.
  int readDhcpBlock(int hubNumber, std::string_view domain) const;
  /// The domain splitter; carriage return (13) when there is none.
  char readDomainSplitter() const;
  /// True when the panel may register the firewall exceptions: AutoSetting "on" or missing.
  bool readFirewallSetting() const;
  /// The dynamic DNS pass code, empty when none is stored.
  std::string readPassCode() const;

  /// False when another hub's HubName equals `name` exactly (case-sensitive); the hub
  /// `hubNumber` itself is not compared.
  bool nameIsFree(int hubNumber, std::string_view name) const;
  /// True for port 0; otherwise false when another hub's PortNo equals `port`.
  bool portIsFree(int hubNumber, int port) const;

 private:
  std::string readValue(int hubNumber, std::string_view key, std::string_view defaultValue,
                        std::size_t bufferSize) const;
  int readNumber(int hubNumber, std::string_view key, std::string_view defaultValue) const;

  platform::profile::ProfileSections sections_;
};

}  // namespace korvane::common
