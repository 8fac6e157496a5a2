// Vintrell64 (or Vintrell32 where built for 32 bits): replaces the installed product by the
// package.deb beside it, keeping the client adapter settings. "fullset" replaces the client and
// the hub part, "niconly" the client part alone; without either it does nothing. Its one
// message goes to standard error. KORVANE_DPKG_ROOT points it at a private package database.

#include <iostream>
#include <string>

#include "platform/Clock.h"
#include "platform/InstallerDatabase.h"
#include "platform/ProgramDirectory.h"
#include "updater/PackageRewriter.h"

int main(int argc, char** argv) {
  using namespace korvane;
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
  }
  const auto installer = platform::InstallerDatabase::fromEnvironment();
  return updater::rewritePackage(
      commandLine, {platform::programDirectory(), installer, platform::systemClock(), std::cerr});
}
