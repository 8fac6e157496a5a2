#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "platform/Clock.h"
#include "platform/InstallerDatabase.h"

namespace korvane::updater {

/// The name under which the installer database knows the product.
inline constexpr const char* kProductPackage = "korvane";
/// The new package, beside the updater.
inline constexpr const char* kPackageFileName = "package.deb";
/// The installed product as it was before the update, saved beside the updater before it is
/// uninstalled, so that a failed installation can be undone.
inline constexpr const char* kSavedPackageFileName = "previous-package.deb";
/// The messages file, beside the updater.
inline constexpr const char* kMessagesFileName = "VintrellMessages.ini";

/// How long the updater lets the new installation settle (the client's services start) before
/// it looks for the installed configuration tool.
inline constexpr std::chrono::milliseconds kSettleTime{2500};

/// What the package rewriter works with.
struct RewriterSetup {
  std::string programDirectory;  ///< the updater's folder, ending in '/'
  const platform::InstallerDatabase& installer;
  const platform::Clock& clock;
  std::ostream& messages;  ///< where the messages go (standard error)
};

/// Replaces the installed product by the package beside the updater, keeping the client
/// adapter settings, as `commandLine` ("fullset" or "niconly") asks; shows one message on the
/// way. Returns the exit code: 0 after success or for a command line without a mode, -1 after
/// any failure.
int rewritePackage(const std::string& commandLine, const RewriterSetup& setup);

}  // namespace korvane::updater
