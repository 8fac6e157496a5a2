#pragma once

#include <cstdint>
#include <string>

namespace korvane::common {

/// The name of the notification pipe that a status window with id `windowId` serves, and to
/// which a hub connects (writing nothing) whenever its connections change.
std::string notifyPipeName(std::uint32_t windowId);

}  // namespace korvane::common
