#include "tools/kvbench/BenchTarget.h"

namespace korvane::tools {

std::unique_ptr<common::HubClient> connectBenchClient(const BenchTarget& target, bool keepAlives,
                                                      std::string* err) {
  auto client = std::make_unique<common::HubClient>();
  if (!client->connect(target.host, target.port, err)) {
    return nullptr;
  }
  if (!target.logsIn) {
    return client;
  }
  std::string loginErr;
  const auto result = client->login(keepAlives, std::nullopt, common::kLoginTimeLimit, &loginErr);
  if (result != common::LoginResult::kAccepted) {
    *err = "login: " + loginErr;
    return nullptr;
  }
  return client;
}

}  // namespace korvane::tools
