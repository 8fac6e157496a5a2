#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ManagerConfigFormat.h"
#include "common/ManagerConfigSnapshot.h"
#include "platform/Clock.h"

namespace korvane::common {

/// A new hub is refused once the file lists more than this many hubs, so at most 33 exist.
inline constexpr std::size_t kMaxHubsBeforeCreate = 32;
/// How long stopping a hub waits after asking the manager to reload, so that the hub process has
/// ended before the caller shows the hubs again.
inline constexpr std::chrono::milliseconds kStopSettleTime{2000};

/// Fields of a hub section that one call of writeHubSettings changes; those left empty stay.
struct HubSettingsChange {
  std::optional<std::string> name;
  std::optional<int> port;
  std::optional<int> authFlag;
  std::optional<int> maxConnections;
  std::optional<int> snatPort;
  std::optional<int> garbageMonths;
  std::optional<int> garbageDays;
};

/// The panel's accessors of the manager configuration file ini/Tollmar.ini: each call opens the
/// file by its path and keeps nothing between calls. A single-key reader never fails: a missing
/// or unreadable file, section or key gives the default, a value out of range its fallback; a
/// reader that needs several values takes them from one snapshot(), which reports a file it
/// cannot read. Every writer changes the file in one replacement, so a reader never sees half a
/// change; it returns false with a message in `err` (when not null) and leaves the file as it
/// was when the file cannot be read or written or a value cannot be stored as given.
/// Creating, deleting, starting and stopping a hub ask the running manager to reload; when a
/// manager runs but does not confirm, they fail with a message saying so, and the change stays
/// written.
class ManagerConfig {
 public:
  /// Accessors of the file at `path`; the hubs' DHCP, filter and lease files are looked for in
  /// the same folder. Stopping a hub waits on `clock`.
  explicit ManagerConfig(std::string path, const platform::Clock& clock = platform::systemClock());

  const std::string& path() const { return path_; }

  /// The whole file read once, for a reader that takes several values; std::nullopt with a
  /// message in `err` when the file exists but cannot be read or is refused.
  std::optional<ManagerConfigSnapshot> snapshot(std::string* err) const;

  /// Single-key readers: each reads the file as it is now and answers as ManagerConfigSnapshot's
  /// reader of the same name (common/ManagerConfigSnapshot.h says what each gives when a key is
  /// missing or out of range); a missing or unreadable file reads as an empty one.
  std::vector<int> listHubs(std::size_t capacity = kHubListCapacity) const;
  std::string readName(int hubNumber) const;
  std::optional<bool> readStatus(int hubNumber) const;
  int readPort(int hubNumber) const;
  int readAuthFlag(int hubNumber) const;
  int readMaxConnections(int hubNumber) const;
  int readSnatPort(int hubNumber) const;
  LogRetention readLogRetention(int hubNumber) const;
  int readDhcpBlock(int hubNumber, std::string_view domain) const;
  char readDomainSplitter() const;
  bool readFirewallSetting() const;
  std::string readPassCode() const;

  /// Writes HubName. Fails for a hub number outside 1..9999 or a name with a line break.
  [[nodiscard]] bool writeName(int hubNumber, std::string_view name, std::string* err);
  /// Writes PortNo. Fails for a port outside 0..65535.
  [[nodiscard]] bool writePort(int hubNumber, int port, std::string* err);
  /// Writes AuthFlag. Fails for a flag other than 0 or 1.
  [[nodiscard]] bool writeAuthFlag(int hubNumber, int flag, std::string* err);
  /// Writes MaxCon. Fails for a value outside 1..512.
  [[nodiscard]] bool writeMaxConnections(int hubNumber, int maxConnections, std::string* err);
  /// Writes SNATPort. Fails for a port outside 0..65535 (0: no router mapping).
  [[nodiscard]] bool writeSnatPort(int hubNumber, int port, std::string* err);
  /// Writes GarbageMonths and GarbageDays in one replacement. Fails for months outside 0..120
  /// or days outside 0..9999, writing neither.
  [[nodiscard]] bool writeLogRetention(int hubNumber, int months, int days, std::string* err);
  /// Writes the fields that `change` holds in one replacement, after checking all of them as the
  /// single writers do; fails writing none when one is refused.
  [[nodiscard]] bool writeHubSettings(int hubNumber, const HubSettingsChange& change,
                                      std::string* err);
  /// Writes the DHCP block flag of `domain`. Fails for a value other than 0 or 1 and for a
  /// domain name that cannot be part of a key (a line break or '=').
  [[nodiscard]] bool writeDhcpBlock(int hubNumber, std::string_view domain, int value,
                                    std::string* err);
  /// Writes the domain splitter, "<NONE>" for carriage return (13). Fails for a character that
  /// would not read back as itself: a zero byte, a line feed, a blank or a tab.
  [[nodiscard]] bool writeDomainSplitter(char splitter, std::string* err);
  /// Writes AutoSetting as "on" or "off".
  [[nodiscard]] bool writeFirewallSetting(bool on, std::string* err);
  /// Writes the dynamic DNS pass code verbatim. Fails for a code with a line break.
  [[nodiscard]] bool writePassCode(std::string_view passCode, std::string* err);

  /// False when another hub's HubName equals `name` exactly (case-sensitive); the hub
  /// `hubNumber` itself is not compared.
  bool nameIsFree(int hubNumber, std::string_view name) const;
  /// True for port 0; otherwise false when another hub's PortNo equals `port`.
  bool portIsFree(int hubNumber, int port) const;

  /// Creates a hub with the lowest positive number no section uses: a section holding exactly
  /// HubName, Status=OFF, PortNo=0 and AuthFlag=0, written in one replacement under the folder
  /// lock (two creators never take the same number), then asks the manager to reload. Returns
  /// the new number; 0 with a message, and the file unchanged, when the file already lists more
  /// than 32 hubs, the name has a line break, or the file cannot be read or written.
  /// Also 0 when the hub was written but the running manager did not confirm the reload (the
  /// message names the new hub).
  int createHub(std::string_view name, std::string* err);
  /// Deletes a hub with everything kept for it: its section, then its account, filter and DHCP
  /// settings files and every lease file of its domains ("%04d_*_dhcp.leases"), so a hub created
  /// later under the same number starts empty; then asks the manager to reload. Fails, changing
  /// nothing, when the hub is not listed or is switched on (its process would write its leases
  /// again); fails when the section cannot be removed or a file cannot be deleted (the other
  /// files are deleted all the same).
  [[nodiscard]] bool deleteHub(int hubNumber, std::string* err);
  /// Switches the hub on (Status "ON") and asks the manager to reload; succeeds without writing
  /// when it is on already. Fails when its Status is neither ON nor OFF or cannot be written.
  [[nodiscard]] bool startHub(int hubNumber, std::string* err);
  /// Switches the hub off (Status "OFF"), asks the manager to reload and gives the hub two
  /// seconds to end; succeeds at once when it is off already. Fails as startHub does.
  [[nodiscard]] bool stopHub(int hubNumber, std::string* err);
  /// Deletes the lease file of `domain` ("" or "-Global-" for the global domain); a missing file
  /// counts as deleted. Fails for a domain name with a '/' or a zero byte, or when the file
  /// cannot be deleted.
  [[nodiscard]] bool deleteLeases(int hubNumber, std::string_view domain, std::string* err);

 private:
  ManagerConfigSnapshot current() const;
  [[nodiscard]] bool removeHubFiles(int hubNumber, std::string* err) const;
  [[nodiscard]] bool writeValue(int hubNumber, std::string_view key, std::string_view value,
                                std::string* err);
  [[nodiscard]] bool writeNumber(int hubNumber, std::string_view key, int value, std::string* err);
  [[nodiscard]] bool switchHub(int hubNumber, bool on, std::string* err);
  std::string hubFilePath(int hubNumber, std::string_view suffix) const;

  std::string path_;
  std::string iniFolder_;
  const platform::Clock& clock_;
};

}  // namespace korvane::common
