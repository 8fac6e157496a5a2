#pragma once

#include <string>

namespace korvane::panel {

/// True for a hub number that can name a hub's files and pipe (1 to 9999, printed with four
/// digits); false with a message in `err` otherwise.
[[nodiscard]] bool isHubNumber(int hubNumber, std::string* err);

}  // namespace korvane::panel
