#include "tools/kvbench/BenchOptions.h"

#include <algorithm>
#include <iterator>

#include "tools/ToolOptions.h"

namespace korvane::tools {
namespace {

// --quick: long enough for every mode to pass its warm-up and move some thousands of records.
constexpr std::chrono::milliseconds kQuickRunTime{500};
// --quick: enough clients to see the login path, few enough to finish in a second or two.
constexpr int kQuickRounds = 1;
// More rounds than this take minutes per measurement and say no more.
constexpr int kMaxRounds = 99;
constexpr int kQuickScaleClients = 64;
// A hub has at most 512 port slots; more clients than that can never all log in.
constexpr int kMaxScaleClients = 512;
// One machine runs at most 32 hubs.
constexpr int kMaxScaleHubs = 32;
// Longest run one measurement may take, so that a typo does not tie the machine up for hours.
constexpr int kMaxRunSeconds = 600;

bool isKnownMode(const std::string& mode) {
  return std::find(std::begin(kBenchModes), std::end(kBenchModes), mode) != std::end(kBenchModes);
}

}  // namespace

std::string benchUsage() {
  return "usage: kvbench [--mode unicast|broadcast|pingpong|scale]... [--quick] [--seconds N]\n"
         "               [--rounds N] [--clients N] [--hubs N]\n"
         "               [--host HOST --port PORT | --relay-only]\n"
         "Measures a hub against a bare relay in this process. Without --host it starts its own\n"
         "kvhub (from its own folder) in a temporary program directory. --hubs N: the scale\n"
         "mode logs --clients clients into each of N hubs (started in one program directory,\n"
         "or running on PORT, PORT+1, ...).\n";
}

bool parseBenchOptions(const std::vector<std::string>& args, BenchOptions* options,
                       std::string* err) {
  BenchOptions parsed;
  bool timeGiven = false;
  bool clientsGiven = false;
  bool roundsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--quick") {
      parsed.quick = true;
    } else if (arg == "--relay-only") {
      parsed.relayOnly = true;
    } else if (arg == "--mode" && hasValue) {
      if (!isKnownMode(args[++i])) {
        *err = "unknown mode " + args[i] + "\n" + benchUsage();
        return false;
      }
      parsed.modes.push_back(args[i]);
    } else if (arg == "--host" && hasValue) {
      parsed.host = args[++i];
    } else if (arg == "--port" && hasValue) {
      if (!parseIntInRange(args[++i], 1, 65535, &parsed.port)) {
        *err = "bad port " + args[i];
        return false;
      }
    } else if (arg == "--seconds" && hasValue) {
      int seconds = 0;
      if (!parseIntInRange(args[++i], 1, kMaxRunSeconds, &seconds)) {
        *err = "bad --seconds " + args[i] + " (1.." + std::to_string(kMaxRunSeconds) + ")";
        return false;
      }
      parsed.runTime = std::chrono::seconds(seconds);
      timeGiven = true;
    } else if (arg == "--rounds" && hasValue) {
      if (!parseIntInRange(args[++i], 1, kMaxRounds, &parsed.rounds)) {
        *err = "bad --rounds " + args[i] + " (1.." + std::to_string(kMaxRounds) + ")";
        return false;
      }
      roundsGiven = true;
    } else if (arg == "--clients" && hasValue) {
      if (!parseIntInRange(args[++i], 1, kMaxScaleClients, &parsed.scaleClients)) {
        *err = "bad --clients " + args[i] + " (1.." + std::to_string(kMaxScaleClients) + ")";
        return false;
      }
      clientsGiven = true;
    } else if (arg == "--hubs" && hasValue) {
      if (!parseIntInRange(args[++i], 1, kMaxScaleHubs, &parsed.scaleHubs)) {
        *err = "bad --hubs " + args[i] + " (1.." + std::to_string(kMaxScaleHubs) + ")";
        return false;
      }
    } else {
      *err = "unknown or incomplete option " + arg + "\n" + benchUsage();
      return false;
    }
  }
  if (parsed.host.empty() != (parsed.port == 0)) {
    *err = "--host and --port go together";
    return false;
  }
  if (parsed.relayOnly && !parsed.host.empty()) {
    *err = "--relay-only measures no hub; leave out --host and --port";
    return false;
  }
  if (parsed.modes.empty()) {
    parsed.modes.assign(std::begin(kBenchModes), std::end(kBenchModes));
  }
  if (parsed.quick && !timeGiven) {
    parsed.runTime = kQuickRunTime;
  }
  if (parsed.quick && !roundsGiven) {
    parsed.rounds = kQuickRounds;
  }
  if (parsed.quick && !clientsGiven) {
    parsed.scaleClients = kQuickScaleClients;
  }
  *options = parsed;
  return true;
}

}  // namespace korvane::tools
