#pragma once

#include <ostream>
#include <string>

namespace korvane::manager {

/// The name under which the manager is registered with the machine's service manager.
inline constexpr const char* kServiceName = "Korvane Virtual Hub Manager";
/// The systemd unit that stands for the service.
inline constexpr const char* kUnitName = "korvane-virtual-hub-manager.service";

/// Where the unit file goes and how systemd is driven. The defaults are the machine's; tests
/// point them elsewhere (KORVANE_SYSTEMD_UNIT_DIR, KORVANE_SYSTEMCTL).
struct ServiceEnvironment {
  std::string unitDirectory = "/etc/systemd/system";
  std::string systemctl = "/bin/systemctl";
  std::string systemdRuntimeDirectory = "/run/systemd/system";  ///< exists while systemd runs

  /// The defaults, with the environment's overrides applied.
  static ServiceEnvironment fromEnvironment();
};

/// The unit file's text for the manager program at `programPath`.
std::string unitFileText(const std::string& programPath, const std::string& programDirectory);

/// Writes the unit file, reloads systemd, enables the service and starts it. False after the
/// failure lines have been written to `err` (the caller's standard error).
bool installService(const ServiceEnvironment& environment, const std::string& programPath,
                    std::ostream& err);

/// Stops, disables and removes the service. False after the failure line was written to `err`.
bool uninstallService(const ServiceEnvironment& environment, std::ostream& err);

}  // namespace korvane::manager
