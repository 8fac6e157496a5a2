#pragma once

#include <string>

#include "panel/logic/PanelStartup.h"

/// The language packs: each language's copy of the resource library and of the help file, and
/// the active files that a switch replaces by them.
namespace korvane::panel {

/// The active resource library in the program directory.
inline constexpr const char* kActiveLibraryName = "OSTREL_LANG.rcc";
/// The active help file in the installation directory, the program directory's parent.
inline constexpr const char* kActiveHelpName = "kv2.html";

/// The files of one switch, all full paths.
struct PackFiles {
  std::string activeLibrary;  ///< <program directory>OSTREL_LANG.rcc
  std::string libraryPack;    ///< <program directory>OSTREL_LANG.<language>.dat
  std::string activeHelp;     ///< <installation directory>kv2.html
  std::string helpPack;       ///< <installation directory>kv2.<language>.dat
};

/// The installation directory: the parent of `programDirectory` (which ends in '/'), ending in
/// '/'.
std::string installationDirectory(const std::string& programDirectory);

/// The files of a switch to `language` for the program directory `programDirectory`.
PackFiles packFiles(const std::string& programDirectory, Language language);

/// Replaces `active` by a copy of `pack`: the pack is copied to a temporary file beside the
/// active one, which is then renamed over it, so that a program that has the active file mapped
/// keeps its old content and a reader never sees half a copy. False with a message in `err`,
/// and `active` as it was, when the pack is missing or cannot be copied.
[[nodiscard]] bool replaceWithPack(const std::string& pack, const std::string& active,
                                   std::string* err);

}  // namespace korvane::panel
