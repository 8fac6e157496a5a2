#pragma once

#include <chrono>
#include <functional>
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

/// Hands every record that `client` receives to `handle`, without a time limit, until the
/// connection ends or `handle` returns false.
void receiveEach(common::HubClient& client,
                 const std::function<bool(const common::ReceivedRecord&)>& handle);

/// Receives records on `client` until one for which `wanted` is true (true), or until `deadline`
/// passes or the connection fails (false, with the reason in `err` when it is given).
bool receiveWanted(common::HubClient& client, std::chrono::steady_clock::time_point deadline,
                   const std::function<bool(const common::ReceivedRecord&)>& wanted,
                   std::string* err);

}  // namespace korvane::tools
