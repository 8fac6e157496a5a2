// kvctl: administers the hubs of this machine from the command line: hubs, accounts, filter
// rules, the domain splitter, and the state and connections of running hubs. It changes the same
// files, and tells the manager and the hubs about changes, exactly as the control panel does.

#include <iostream>
#include <string>
#include <vector>

#include "common/ProgramPaths.h"
#include "tools/kvctl/Command.h"

namespace {

using namespace korvane;
using tools::Command;

std::vector<Command> allCommands() {
  std::vector<Command> commands;
  for (auto group : {tools::hubCommands(), tools::accountCommands(), tools::filterCommands(),
                     tools::splitterCommands(), tools::statusCommands(), tools::dnsCommands(),
                     tools::upnpCommands()}) {
    commands.insert(commands.end(), group.begin(), group.end());
  }
  return commands;
}

std::string title(const Command& command) {
  return command.name.empty() ? command.group : command.group + " " + command.name;
}

void printOverview(const std::vector<Command>& commands, std::ostream& out) {
  out << "usage: kvctl COMMAND [ARGUMENTS] [--json]\n\n"
         "Administers the virtual hubs of this machine. HUB is a hub number (1 or 0001).\n"
         "Every command takes --help. --json prints machine-readable output.\n\n"
         "commands:\n";
  for (const auto& command : commands) {
    std::string line = "  " + title(command);
    line.resize(std::max<std::size_t>(line.size() + 2, 24), ' ');
    out << line << command.summary << '\n';
  }
}

void printUsage(const Command& command, std::ostream& out) {
  out << "usage: kvctl " << title(command) << (command.usage.empty() ? "" : " ") << command.usage
      << "\n  " << command.summary << '\n';
}

const Command* findCommand(const std::vector<Command>& commands,
                           const std::vector<std::string>& words, std::size_t* used) {
  const Command* groupDefault = nullptr;
  for (const auto& command : commands) {
    if (command.group != words[0]) {
      continue;
    }
    if (command.name.empty()) {
      groupDefault = &command;
    } else if (words.size() > 1 && command.name == words[1]) {
      *used = 2;
      return &command;
    }
  }
  *used = 1;
  return groupDefault;
}

int run(const std::vector<std::string>& words) {
  const auto commands = allCommands();
  if (words.empty()) {
    printOverview(commands, std::cerr);
    return tools::kExitUsage;
  }
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    printOverview(commands, std::cout);
    return tools::kExitOk;
  }
  std::size_t used = 0;
  const Command* command = findCommand(commands, words, &used);
  if (command == nullptr) {
    std::cerr << "kvctl: unknown command '" << words[0]
              << (words.size() > 1 && words[1].rfind("--", 0) != 0 ? " " + words[1] : "")
              << "'; see kvctl --help\n";
    return tools::kExitUsage;
  }

  std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
  std::vector<std::string> flags = command->flags;
  flags.insert(flags.end(), {"json", "help"});
  std::string err;
  const auto arguments = tools::Arguments::parse(rest, flags, &err);
  if (!arguments) {
    std::cerr << "kvctl: " << err << '\n';
    return tools::kExitUsage;
  }
  if (arguments->has("help")) {
    printUsage(*command, std::cout);
    return tools::kExitOk;
  }
  std::vector<std::string> known = flags;
  known.insert(known.end(), command->options.begin(), command->options.end());
  if (const auto unknown = arguments->unknown(known); !unknown.empty()) {
    std::cerr << "kvctl: unknown option --" << unknown.front() << " for '" << title(*command)
              << "'; see kvctl " << title(*command) << " --help\n";
    return tools::kExitUsage;
  }
  const std::size_t count = arguments->positional().size();
  if (count < command->minimumPositional || count > command->maximumPositional) {
    std::cerr << "kvctl: wrong number of arguments for '" << title(*command) << "'\n";
    printUsage(*command, std::cerr);
    return tools::kExitUsage;
  }

  common::ManagerConfig config(common::managerConfigPath());
  tools::Context context{config, arguments->has("json"), std::cout, std::cerr,
                         platform::systemClock()};
  return command->run(context, *arguments);
}

}  // namespace

int main(int argc, char** argv) {
  return run(std::vector<std::string>(argv + 1, argv + argc));
}
