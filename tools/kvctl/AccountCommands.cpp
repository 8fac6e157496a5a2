// kvctl account ...: the accounts of a hub.

#include "tools/kvctl/Command.h"

namespace korvane::tools {

std::vector<Command> accountCommands() {
  return {};
}

}  // namespace korvane::tools
