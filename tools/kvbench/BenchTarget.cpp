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

void receiveEach(common::HubClient& client,
                 const std::function<bool(const common::ReceivedRecord&)>& handle) {
  common::ReceivedRecord record;
  while (client.receiveRecord(&record, common::kNoTimeLimit, nullptr) ==
         common::ReceiveResult::kRecord) {
    if (!handle(record)) {
      return;
    }
  }
}

bool receiveWanted(common::HubClient& client, std::chrono::steady_clock::time_point deadline,
                   const std::function<bool(const common::ReceivedRecord&)>& wanted,
                   std::string* err) {
  common::ReceivedRecord record;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 ||
        client.receiveRecord(&record, left, err) != common::ReceiveResult::kRecord) {
      return false;
    }
    if (wanted(record)) {
      return true;
    }
  }
}

}  // namespace korvane::tools
