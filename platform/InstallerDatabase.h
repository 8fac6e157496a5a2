#pragma once

#include <string>
#include <vector>

namespace korvane::platform {

/// Name of the environment variable that points the installer database at a private root (a
/// folder with its own database, which tests create); unset or empty means the machine's own.
inline constexpr const char* kInstallerRootVariable = "KORVANE_DPKG_ROOT";

/// The machine's package installer database (dpkg): which products are installed, where their
/// files lie, and installing and uninstalling packages. A private root keeps its own database
/// and installs below itself; the packages' maintainer scripts then run outside a chroot with
/// DPKG_ROOT set to it, and nothing is written to the machine's own log.
class InstallerDatabase {
 public:
  /// The machine's database, or the private one that KORVANE_DPKG_ROOT names.
  static InstallerDatabase fromEnvironment();

  /// The database below `root`; the machine's own for an empty root.
  explicit InstallerDatabase(std::string root);

  /// True when the database knows `product` with its files in place (installed, or installed
  /// but not configured); false when it is unknown, removed with only its configuration left, or
  /// the database cannot be asked.
  bool isRegistered(const std::string& product) const;

  /// The paths of the files and folders `product` installed, as the database names them (rooted
  /// at "/", without the private root); empty when it is not installed or cannot be asked.
  std::vector<std::string> installedPaths(const std::string& product) const;

  /// Where a path the database names lies on this machine's disk (below the private root).
  std::string onDisk(const std::string& path) const;

  /// Uninstalls `product`, keeping its configuration files; the installer's exit status (0 is
  /// success, -1 when it could not be started).
  int uninstall(const std::string& product) const;

  /// Installs the package file at `packagePath`; the installer's exit status (0 is success, -1
  /// when it could not be started).
  int install(const std::string& packagePath) const;

  /// Builds a package file at `destination` from the installed `product` (its files as they lie
  /// now, its control data and maintainer scripts), so that installing that file gives the
  /// product back. False with a message in `err`; no file is left at `destination` then.
  [[nodiscard]] bool saveInstalledPackage(const std::string& product,
                                          const std::string& destination, std::string* err) const;

 private:
  std::vector<std::string> queryOptions() const;
  std::vector<std::string> installOptions() const;

  std::string root_;
};

}  // namespace korvane::platform
