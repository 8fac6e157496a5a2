#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/HubClient.h"

namespace korvane::tools {

/// Where a measurement sends its traffic: a hub (clients log in) or the bare relay (they don't).
struct BenchTarget {
  std::string name;  ///< "hub" or "relay", for the report
  std::string host;
  int port = 0;
  bool logsIn = true;               ///< clients send LOGIN and wait for LOGIN_OK
  std::optional<int> hubProcessId;  ///< set when kvbench started the hub itself
};

/// A client connected to `target` and, for a hub, logged in without an account (the hubs that
/// kvbench starts have AuthFlag 0). Empty with a message in `err`.
std::unique_ptr<common::HubClient> connectBenchClient(const BenchTarget& target, bool keepAlives,
                                                      std::string* err);

}  // namespace korvane::tools
