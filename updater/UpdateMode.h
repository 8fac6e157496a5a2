#pragma once

#include <string_view>

namespace korvane::updater {

/// What an update replaces.
enum class UpdateMode {
  kNone,        ///< nothing: the command line names no mode
  kFullSet,     ///< the client and the hub part
  kClientOnly,  ///< the client part alone
};

/// The mode a command line asks for: "fullset" anywhere in it wins over "niconly".
UpdateMode updateModeOf(std::string_view commandLine);

}  // namespace korvane::updater
