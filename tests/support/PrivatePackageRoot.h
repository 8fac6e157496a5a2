#pragma once

#include <string>
#include <vector>

namespace korvane::testing {

/// The PATH that the package tools need (they look for ldconfig and start-stop-daemon in it).
inline constexpr const char* kPackageToolPath = "/usr/sbin:/usr/bin:/sbin:/bin";

/// An installation root with a dpkg database of the test's own under /tmp, removed with
/// everything in it when the object goes; the machine's own database is never touched.
class PrivatePackageRoot {
 public:
  PrivatePackageRoot();
  ~PrivatePackageRoot();
  PrivatePackageRoot(const PrivatePackageRoot&) = delete;
  PrivatePackageRoot& operator=(const PrivatePackageRoot&) = delete;

  /// The root, without a trailing '/'.
  const std::string& path() const { return path_; }

  /// Runs dpkg with `args` on this root (maintainer scripts outside a chroot, no log on the
  /// machine, dependencies not required); its exit status.
  int dpkg(const std::vector<std::string>& args) const;

  /// The installed version of `package`, or empty when it is not installed.
  std::string installedVersion(const std::string& package) const;

 private:
  std::string path_;
};

/// What a test package of the product holds below /opt/korvane.
struct TestPackage {
  std::string version = "1.0";
  bool client = true;  ///< nic/Harlow (a long-running program) and nic/HarlowConfig
  bool hub = true;     ///< hub/Ostrel
};

/// Builds the package "korvane" as `package` at `debPath` in `workDir`. Its nic/HarlowConfig is
/// a stand-in that appends "REQUEST VERSION DIRECTORY" to $KORVANE_TEST_TOOL_LOG; "save" writes
/// the files named in $KORVANE_TEST_SAVE_FILES into $KORVANE_TEST_SAVE_DIR and exits with
/// $KORVANE_TEST_SAVE_STATUS (0 when unset); "restore" adds a line "restored FILES..." with the
/// files of ./nicsettings and exits with 0.
void buildTestPackage(const TestPackage& package, const std::string& workDir,
                      const std::string& debPath);

}  // namespace korvane::testing
