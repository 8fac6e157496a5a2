#include "updater/UpdateMode.h"

namespace korvane::updater {

UpdateMode updateModeOf(std::string_view commandLine) {
  if (commandLine.find("fullset") != std::string_view::npos) {
    return UpdateMode::kFullSet;
  }
  if (commandLine.find("niconly") != std::string_view::npos) {
    return UpdateMode::kClientOnly;
  }
  return UpdateMode::kNone;
}

}  // namespace korvane::updater
