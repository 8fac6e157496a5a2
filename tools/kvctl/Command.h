#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/ManagerConfig.h"
#include "platform/Clock.h"
#include "tools/kvctl/Arguments.h"

namespace korvane::tools {

/// Exit statuses of kvctl.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  ///< the request was understood and refused
inline constexpr int kExitUsage = 2;    ///< the request was not understood

/// What every command works with.
struct Context {
  common::ManagerConfig& config;
  bool json = false;
  std::ostream& out;
  std::ostream& err;
  const platform::Clock& clock;

  /// Writes "kvctl: MESSAGE" on standard error and returns kExitRefused.
  int refuse(const std::string& message) const;
};

/// One subcommand: "kvctl GROUP NAME ARGS...".
struct Command {
  std::string group;
  std::string name;
  std::string usage;    ///< the arguments, for --help
  std::string summary;  ///< one line, for --help
  std::vector<std::string> flags;    ///< options without a value
  std::vector<std::string> options;  ///< options with a value
  std::size_t minimumPositional = 0;
  std::size_t maximumPositional = 0;
  std::function<int(Context&, const Arguments&)> run;
};

std::vector<Command> hubCommands();
std::vector<Command> accountCommands();
std::vector<Command> filterCommands();
std::vector<Command> splitterCommands();
std::vector<Command> statusCommands();
std::vector<Command> dnsCommands();
std::vector<Command> upnpCommands();

/// Reads a hub number ("3" or "0003") of a hub that the configuration file lists. Refuses
/// (with the message in `err`) text that is not a number, a number out of 1..9999, or a hub
/// that does not exist.
std::optional<int> parseExistingHub(const common::ManagerConfig& config, const std::string& text,
                                    std::string* err);

/// Reads a whole decimal number within [low, high]; empty with a message naming `what` else.
std::optional<int> parseNumber(const std::string& text, int low, int high, const std::string& what,
                               std::string* err);

/// Reads "on"/"off" (also "1"/"0", "yes"/"no", "true"/"false"); empty with a message else.
std::optional<bool> parseSwitch(const std::string& text, const std::string& what,
                                std::string* err);

}  // namespace korvane::tools
