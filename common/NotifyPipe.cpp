#include "common/NotifyPipe.h"

#include <cstdio>

namespace korvane::common {

std::string notifyPipeName(std::uint32_t windowId) {
  char name[48];
  std::snprintf(name, sizeof name, "ZERERAV_NOTIFY_%d", static_cast<int>(windowId));
  return name;
}

}  // namespace korvane::common
