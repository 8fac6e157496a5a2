// kvctl filter ...: the connection filter rules of a hub.

#include "tools/kvctl/Command.h"

namespace korvane::tools {

std::vector<Command> filterCommands() {
  return {};
}

}  // namespace korvane::tools
