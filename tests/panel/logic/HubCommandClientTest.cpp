#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "panel/logic/AccountListModel.h"
#include "panel/logic/FilterModel.h"
#include "panel/logic/HubCommandClient.h"
#include "platform/LocalPipe.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::TempProgramDir;
using Request = std::array<std::uint8_t, 16>;

// Generous bound for a test hub that answers at once; only a broken client comes near it.
constexpr std::chrono::milliseconds kTestLimit{5000};

// A stand-in for a hub's control pipe: serves one client, reads its 16 bytes and closes, as the
// hub does for a reload command.
class FakeHub {
 public:
  explicit FakeHub(int hubNumber, bool closeAfterRead = true) {
    std::string err;
    std::optional<platform::PipeServer> server = platform::PipeServer::create(
        common::hubPipeName(hubNumber), platform::PipeAccess::kOwnerOnly, &err);
    EXPECT_TRUE(server.has_value()) << err;
    if (!server) {
      return;
    }
    server_ = std::move(*server);
    thread_ = std::thread([this, closeAfterRead] {
      std::optional<platform::PipeConnection> client = server_.accept();
      if (!client) {
        return;
      }
      received_ = client->readFully(request_, kTestLimit);
      if (!closeAfterRead) {
        // Keeps the connection, like a hub busy with a long reload, until the test lets go.
        release_.get_future().wait();
      }
    });
  }
  ~FakeHub() { join(); }
  FakeHub(const FakeHub&) = delete;
  FakeHub& operator=(const FakeHub&) = delete;

  /// Lets a hub made with closeAfterRead false close its connection.
  void release() { release_.set_value(); }

  void join() {
    if (thread_.joinable()) {
      thread_.join();
    }
    server_.close();
  }

  std::size_t received() const { return received_; }
  const Request& request() const { return request_; }

 private:
  platform::PipeServer server_;
  std::promise<void> release_;
  std::thread thread_;
  Request request_{};
  std::size_t received_ = 0;
};

Request expectedRequest(std::uint8_t command) {
  return Request{0x00, 0xFF, 0x00, 0xFF, 0, 0, 0, 0, command, 0, 0, 0, 0, 0, 0, 0};
}

TEST(HubCommandClient, SendsTheSixteenByteRequest) {
  struct Row {
    HubReload reload;
    std::uint8_t command;
  };
  const Row rows[] = {
      {accountsReload(false), 2},
      {accountsReload(true), 5},
      {filterReload(false), 7},
      {filterReload(true), 8},
  };
  TempProgramDir dir;
  dir.useForThisProcess();
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.command));
    FakeHub hub(1);
    std::string err;
    EXPECT_EQ(HubCommandClient(kTestLimit).send(1, row.reload, &err), HubDelivery::kTaken) << err;
    hub.join();
    EXPECT_EQ(hub.received(), 16u);
    EXPECT_EQ(hub.request(), expectedRequest(row.command));
  }
}

TEST(HubCommandClient, HubThatDoesNotRunIsNoError) {
  TempProgramDir dir;
  dir.useForThisProcess();
  const auto start = std::chrono::steady_clock::now();
  std::string err;
  EXPECT_EQ(HubCommandClient().send(1, HubReload::kAccounts, &err), HubDelivery::kHubNotRunning);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(err.empty()) << err;
}

TEST(HubCommandClient, OtherHubsPipeIsNotTheHub) {
  TempProgramDir dir;
  dir.useForThisProcess();
  FakeHub other(2);
  std::string err;
  EXPECT_EQ(HubCommandClient().send(1, HubReload::kFilter, &err), HubDelivery::kHubNotRunning);
  // Lets the other hub's server end.
  EXPECT_EQ(HubCommandClient(kTestLimit).send(2, HubReload::kFilter, &err), HubDelivery::kTaken);
}

TEST(HubCommandClient, HubThatDoesNotTakeTheCommandInTimeIsReported) {
  TempProgramDir dir;
  dir.useForThisProcess();
  FakeHub hub(1, false);
  std::string err;
  EXPECT_EQ(HubCommandClient(std::chrono::milliseconds(200)).send(1, HubReload::kAccounts, &err),
            HubDelivery::kNotConfirmed);
  EXPECT_NE(err.find("did not take"), std::string::npos) << err;
  hub.release();
  hub.join();
  EXPECT_EQ(hub.request(), expectedRequest(2));
}

TEST(HubCommandClient, ModelsTellTheirHub) {
  TempProgramDir dir;
  dir.useForThisProcess();
  const std::string ini = dir.path() + "ini/";
  std::string err;
  std::optional<AccountListModel> accounts = AccountListModel::open(ini, 7, '\r', &err);
  ASSERT_TRUE(accounts) << err;
  std::optional<FilterModel> filter = FilterModel::open(ini, 7, &err);
  ASSERT_TRUE(filter) << err;
  const HubCommandClient client(kTestLimit);
  {
    FakeHub hub(7);
    EXPECT_EQ(accounts->tellHub(true, &err, client), HubDelivery::kTaken) << err;
    hub.join();
    EXPECT_EQ(hub.request(), expectedRequest(5));
  }
  {
    FakeHub hub(7);
    EXPECT_EQ(filter->tellHub(true, &err, client), HubDelivery::kTaken) << err;
    hub.join();
    EXPECT_EQ(hub.request(), expectedRequest(8));
  }
}

}  // namespace
}  // namespace korvane::panel
