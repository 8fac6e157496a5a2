#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ProfileSections.h"

namespace korvane::common {

/// Whether a hub asks who its clients are (the AuthFlag key: 1 asks, any other value does not).
enum class AuthFlag {
  kOff,  ///< every client may log in at once, and its frames count from the start
  kOn,   ///< clients log in by answering a challenge with an account's password
};

/// The settings a hub reads from its own section of the manager configuration file, and the
/// domain splitter of section SYSTEM, at start-up.
struct HubSettings {
  std::uint16_t portNo = 0;  ///< 0: no port set, the hub does not start
  AuthFlag authFlag = AuthFlag::kOff;
  int maxCon = 512;          ///< port slots, 1..512
  int snatPort = 0;          ///< external port of the router mapping, 0 for none
  int garbageMonths = 0;     ///< months of daily logs to keep, 0..120
  int garbageDays = 0;       ///< days of daily logs to keep, 0..65536
  char splitter = '\r';      ///< the domain splitter; carriage return when there is none
};

/// Every value is read into a buffer of this size (1023 characters and the terminating zero),
/// so that an overlong value is cut the same way in every program.
inline constexpr std::size_t kHubValueBufferSize = 1024;

/// Most port slots a hub has: the port manager's slot array is sized for 512 connections.
inline constexpr int kMaxConnectionsLimit = 512;
/// Longest daily log retention a hub accepts, in months (ten years).
inline constexpr int kHubMaxGarbageMonths = 120;
/// Longest daily log retention a hub accepts, in days.
inline constexpr int kHubMaxGarbageDays = 65536;
/// Highest TCP port number.
inline constexpr int kMaxPortNumber = 65535;

/// The settings of hub `hubNumber` from one reading of the file at `path`, so they all come from
/// the same version of it; a missing file, section or key gives the default, a value out of
/// range its fallback. std::nullopt with "cannot read PATH: reason" in `err` when the file
/// exists but cannot be read or is refused (not a regular file, too large).
std::optional<HubSettings> readHubSettings(const std::string& path, int hubNumber,
                                           std::string* err);

/// The settings of hub `hubNumber` taken from the sections of the file, as readHubSettings does.
HubSettings hubSettingsFrom(const platform::profile::ProfileSections& file, int hubNumber);

}  // namespace korvane::common
