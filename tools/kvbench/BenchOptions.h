#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace korvane::tools {

/// The modes kvbench knows, in the order a full run takes them.
inline constexpr const char* kBenchModes[] = {"unicast", "broadcast", "pingpong", "scale"};

/// What one kvbench invocation does.
struct BenchOptions {
  std::vector<std::string> modes;           ///< the modes to run, in order
  std::chrono::milliseconds runTime{1000};  ///< traffic time of one round
  /// Rounds per measurement, hub and relay taking turns, so that a load that comes and goes on
  /// the machine meets both alike; the median round is reported.
  int rounds = 3;
  bool quick = false;      ///< very short runs, fewer clients: a smoke test
  bool relayOnly = false;  ///< measure the bare relay alone
  std::string host;        ///< a running hub to measure; empty: start one
  int port = 0;
  int scaleClients = 512;  ///< clients of the connection-scale mode, per hub
  int scaleHubs = 1;       ///< hubs of the connection-scale mode
  bool help = false;
};

/// The usage text.
std::string benchUsage();

/// The options of the command line `args` (without the program name); false with a message in
/// `err` for an unknown option, a missing or bad value, or an unknown mode.
[[nodiscard]] bool parseBenchOptions(const std::vector<std::string>& args, BenchOptions* options,
                                     std::string* err);

}  // namespace korvane::tools
