// Process-level tests of the manager: which hubs it runs, restarts and stops, and its pipe.

#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/ManagerPipeClient.h"
#include "manager/ManagerPipeServer.h"
#include "platform/LocalPipe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/ProcessList.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::waitUntil;

constexpr auto kSettle = 10s;

struct HubSection {
  int number;
  const char* status;
};

class ManagerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.useForThisProcess();
    std::filesystem::create_symlink(testing::builtProgram("kvhub"), dir_.path() + "kvhub");
  }

  void writeConfig(const std::vector<HubSection>& hubs) {
    std::string text = "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n";
    for (const auto& hub : hubs) {
      char section[16];
      std::snprintf(section, sizeof section, "[%04d]\r\n", hub.number);
      text += section;
      text += "HubName=hub" + std::to_string(hub.number) + "\r\nStatus=" + hub.status +
              "\r\nPortNo=" + std::to_string(testing::freeTcpPort()) + "\r\n";
    }
    testing::writeFile(dir_.ini("Tollmar.ini"), text);
  }

  std::unique_ptr<ChildProcess> startManager(const std::vector<std::string>& args = {}) {
    return std::make_unique<ChildProcess>(testing::builtProgram("Tollmar"), args, dir_.path(),
                                          dir_.path() + "manager-output.txt");
  }

  // The hub numbers the manager's children were started with, sorted, after checking that each
  // command line is "kvhub NNNN MANAGER-PID".
  std::vector<std::string> hubsOf(const ChildProcess& manager) {
    std::vector<std::string> hubs;
    for (const auto& child : testing::childProcesses(manager.pid())) {
      if (child.arguments.size() != 3 || !child.arguments[0].ends_with("/kvhub")) {
        continue;
      }
      EXPECT_EQ(child.arguments[2], std::to_string(manager.pid()));
      hubs.push_back(child.arguments[1]);
    }
    std::sort(hubs.begin(), hubs.end());
    return hubs;
  }

  bool waitForHubs(const ChildProcess& manager, const std::vector<std::string>& expected) {
    return waitUntil([&] { return hubsOf(manager) == expected; }, kSettle);
  }

  int pidOfHub(const ChildProcess& manager, const std::string& number) {
    for (const auto& child : testing::childProcesses(manager.pid())) {
      if (child.arguments.size() == 3 && child.arguments[1] == number) {
        return child.pid;
      }
    }
    return 0;
  }

  // Sends one message on the manager pipe and returns the reply.
  std::string sendToManager(const std::string& message) {
    std::string err;
    auto pipe = platform::openPipe("KVTOLLMAR", &err);
    if (!pipe) {
      ADD_FAILURE() << err;
      return {};
    }
    EXPECT_TRUE(pipe->writeAll({reinterpret_cast<const std::uint8_t*>(message.data()),
                                message.size()}));
    std::uint8_t reply[16] = {};
    const std::size_t got = pipe->readSome(reply, 5s);
    return std::string(reinterpret_cast<const char*>(reply), got);
  }

  bool managerPipeReady() {
    return waitUntil([&] { return testing::fileExists(dir_.path() + "pipe/KVTOLLMAR"); },
                     kSettle);
  }

  void stopManager(ChildProcess& manager) {
    ASSERT_EQ(::kill(manager.pid(), SIGTERM), 0);
    EXPECT_EQ(manager.waitForExit(15s), 0);
  }

  testing::TempProgramDir dir_;
};

TEST_F(ManagerServiceTest, RunsEveryHubSwitchedOn) {
  writeConfig({{1, "ON"}, {2, "OFF"}, {3, "ON"}, {4, "on"}});
  auto manager = startManager();
  EXPECT_TRUE(waitForHubs(*manager, {"0001", "0003"})) << "hubs: " << hubsOf(*manager).size();
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, RestartsAHubThatEnds) {
  writeConfig({{1, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(waitForHubs(*manager, {"0001"}));
  const int first = pidOfHub(*manager, "0001");
  ASSERT_GT(first, 0);

  const auto killedAt = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  ASSERT_TRUE(waitUntil(
      [&] {
        const int now = pidOfHub(*manager, "0001");
        return now != 0 && now != first;
      },
      kSettle));
  EXPECT_GE(std::chrono::steady_clock::now() - killedAt, 900ms)
      << "a hub is started again one second after it ended";
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, ReloadStopsAHubSwitchedOffAndDoesNotRestartIt) {
  writeConfig({{1, "ON"}, {2, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(waitForHubs(*manager, {"0001", "0002"}));
  ASSERT_TRUE(managerPipeReady());

  writeConfig({{1, "ON"}, {2, "OFF"}});
  EXPECT_EQ(sendToManager(std::string("AAA\0", 4)), std::string("OK\0", 3));
  EXPECT_TRUE(waitForHubs(*manager, {"0001"}));
  std::this_thread::sleep_for(1500ms);  // past the restart delay: it must stay stopped
  EXPECT_EQ(hubsOf(*manager), std::vector<std::string>{"0001"});
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, RunsAtMostThirtyTwoHubs) {
  std::vector<HubSection> hubs;
  std::vector<std::string> expected;
  for (int number = 1; number <= 33; ++number) {
    hubs.push_back({number, "ON"});
    if (number <= 32) {
      char text[8];
      std::snprintf(text, sizeof text, "%04d", number);
      expected.push_back(text);
    }
  }
  writeConfig(hubs);
  auto manager = startManager();
  EXPECT_TRUE(waitForHubs(*manager, expected)) << "hubs: " << hubsOf(*manager).size();
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, StoppingTheManagerStopsItsHubs) {
  writeConfig({{1, "ON"}, {2, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(waitForHubs(*manager, {"0001", "0002"}));
  const int hub1 = pidOfHub(*manager, "0001");

  const auto stoppedAt = std::chrono::steady_clock::now();
  stopManager(*manager);
  EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 3s)
      << "hubs that obey the stop command end well before the four-second grace";
  EXPECT_TRUE(waitUntil([&] { return ::kill(hub1, 0) != 0; }, 5s));
  EXPECT_NE(testing::readFile(dir_.log("0001_1.log")).find("Detect Termination Signal !"),
            std::string::npos)
      << "the hub was stopped with the stop command, not killed";
}

TEST_F(ManagerServiceTest, HubsThatIgnoreTheStopCommandAreKilledAfterFourSeconds) {
  // A stand-in hub that ignores the stop command and SIGTERM alike.
  std::filesystem::remove(dir_.path() + "kvhub");
  testing::writeFile(dir_.path() + "kvhub", "#!/bin/sh\ntrap '' TERM INT\nexec sleep 60\n");
  std::filesystem::permissions(dir_.path() + "kvhub", std::filesystem::perms::owner_all);
  writeConfig({{1, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(waitUntil([&] { return !testing::childProcesses(manager->pid()).empty(); },
                        kSettle));

  const auto stoppedAt = std::chrono::steady_clock::now();
  stopManager(*manager);
  const auto took = std::chrono::steady_clock::now() - stoppedAt;
  EXPECT_GE(took, 3900ms);
  EXPECT_LT(took, 10s);
}

TEST_F(ManagerServiceTest, HubSwitchedOffThatCannotBeToldIsKilled) {
  // A stand-in hub that never opens its control pipe, like a hub still starting.
  std::filesystem::remove(dir_.path() + "kvhub");
  testing::writeFile(dir_.path() + "kvhub", "#!/bin/sh\ntrap '' TERM INT\nexec sleep 60\n");
  std::filesystem::permissions(dir_.path() + "kvhub", std::filesystem::perms::owner_all);
  writeConfig({{1, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(managerPipeReady());
  ASSERT_TRUE(waitUntil([&] { return !testing::childProcesses(manager->pid()).empty(); },
                        kSettle));

  writeConfig({{1, "OFF"}});
  const auto switchedOffAt = std::chrono::steady_clock::now();
  EXPECT_EQ(sendToManager("AAA"), std::string("OK\0", 3));
  EXPECT_TRUE(waitUntil([&] { return testing::childProcesses(manager->pid()).empty(); }, kSettle));
  EXPECT_GE(std::chrono::steady_clock::now() - switchedOffAt, 3900ms)
      << "the hub had its four seconds to hear the stop command";
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, ForegroundModeWritesItsLogInTheCurrentDirectory) {
  writeConfig({});
  const std::string work = dir_.path() + "work";
  std::filesystem::create_directory(work);
  testing::writeFile(work + "/Tollmar.log", "earlier\n");
  ChildProcess manager(testing::builtProgram("Tollmar"), {"S"}, dir_.path(),
                       ChildProcess::Options{"", work, {}, ""});
  EXPECT_TRUE(waitUntil(
      [&] { return testing::readFile(work + "/Tollmar.log") == "earlier\n[ServiceMain] LOOP stat\n"; },
      kSettle))
      << testing::readFile(work + "/Tollmar.log");
  ASSERT_EQ(::kill(manager.pid(), SIGTERM), 0);
  EXPECT_EQ(manager.waitForExit(15s), 0);
}

// Larger than the 4 MiB that the readers of configuration files take.
constexpr std::size_t kOversizedConfigBytes = 5 * 1024 * 1024;

TEST_F(ManagerServiceTest, ReloadOfAFileThatCannotBeReadKeepsTheHubs) {
  writeConfig({{1, "ON"}});
  const std::string work = dir_.path() + "work";
  std::filesystem::create_directory(work);
  ChildProcess manager(testing::builtProgram("Tollmar"), {"S"}, dir_.path(),
                       ChildProcess::Options{"", work, {}, ""});
  ASSERT_TRUE(waitForHubs(manager, {"0001"}));
  ASSERT_TRUE(managerPipeReady());
  // The hub has read its settings once it serves its control pipe; a hub still starting would
  // end on the refused file below, which is not what this test is about.
  ASSERT_TRUE(waitUntil([&] { return testing::fileExists(dir_.path() + "pipe/KVHUB_0001"); },
                        kSettle));

  const std::string path = dir_.ini("Tollmar.ini");
  // Read whole, the oversized file would switch hub 1 off and hub 2 on.
  std::string oversized = "[0001]\r\nStatus=OFF\r\n[0002]\r\nStatus=ON\r\nPortNo=" +
                          std::to_string(testing::freeTcpPort()) + "\r\n";
  const std::string comment = ";" + std::string(1021, 'x') + "\r\n";
  while (oversized.size() <= kOversizedConfigBytes) {
    oversized += comment;
  }
  struct Row {
    const char* what;
    std::function<void()> put;
  };
  // The FIFO comes last: a reader that opened it blocking would hang there.
  const Row rows[] = {
      {"a folder", [&] { std::filesystem::create_directory(path); }},
      {"a file over the size limit", [&] { testing::writeFile(path, oversized); }},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
  };
  const std::string refusal = "[ServiceMain] cannot read " + path;
  std::size_t refusals = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(path);
    row.put();
    EXPECT_EQ(sendToManager("AAA"), std::string("OK\0", 3));
    ++refusals;
    EXPECT_TRUE(waitUntil(
        [&] {
          const std::string log = testing::readFile(work + "/Tollmar.log");
          std::size_t seen = 0;
          for (auto at = log.find(refusal); at != std::string::npos;
               at = log.find(refusal, at + 1)) {
            ++seen;
          }
          return seen == refusals;
        },
        kSettle))
        << testing::readFile(work + "/Tollmar.log");
    EXPECT_EQ(hubsOf(manager), std::vector<std::string>{"0001"});
  }

  // A good file is read again.
  std::filesystem::remove_all(path);
  writeConfig({{1, "ON"}, {2, "ON"}});
  EXPECT_EQ(sendToManager("AAA"), std::string("OK\0", 3));
  EXPECT_TRUE(waitForHubs(manager, {"0001", "0002"}));
  stopManager(manager);
}

TEST_F(ManagerServiceTest, UnknownSingleArgumentDoesNothing) {
  writeConfig({{1, "ON"}});
  const std::string work = dir_.path() + "work";
  std::filesystem::create_directory(work);
  for (const char* argument : {"X", "s", "i", ""}) {
    SCOPED_TRACE(argument);
    ChildProcess manager(testing::builtProgram("Tollmar"), {argument}, dir_.path(),
                         ChildProcess::Options{"", work, {}, ""});
    EXPECT_EQ(manager.waitForExit(5s), 0);
  }
  EXPECT_FALSE(testing::fileExists(work + "/Tollmar.log"));
  EXPECT_FALSE(testing::fileExists(dir_.log("0001_1.log")));
}

TEST_F(ManagerServiceTest, EveryPipeMessageStartsOneReload) {
  // The pipe serves before the manager's first reading of the file (a request during that
  // reading must not be lost), so the running hub is what tells that the first reading is done.
  writeConfig({{1, "ON"}});
  auto manager = startManager();
  ASSERT_TRUE(managerPipeReady());
  ASSERT_TRUE(waitForHubs(*manager, {"0001"}));

  // A client that connects and leaves causes no reload.
  writeConfig({{1, "OFF"}});
  {
    std::string err;
    auto pipe = platform::openPipe("KVTOLLMAR", &err);
    ASSERT_TRUE(pipe) << err;
  }
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(hubsOf(*manager), std::vector<std::string>{"0001"});

  // One byte, of any content, is a request.
  EXPECT_EQ(sendToManager("\x7f"), std::string("OK\0", 3));
  EXPECT_TRUE(waitForHubs(*manager, {}));

  // So are 1024 bytes.
  writeConfig({{1, "ON"}, {2, "ON"}});
  EXPECT_EQ(sendToManager(std::string(1024, 'Z')), std::string("OK\0", 3));
  EXPECT_TRUE(waitForHubs(*manager, {"0001", "0002"}));
  stopManager(*manager);
}

TEST_F(ManagerServiceTest, SilentClientIsDroppedAndTheClientsQueuedBehindItAreAnswered) {
  writeConfig({});
  auto manager = startManager();
  ASSERT_TRUE(managerPipeReady());
  ASSERT_EQ(sendToManager("AAA"), std::string("OK\0", 3)) << "the pipe thread serves";

  std::string err;
  auto silent = platform::openPipe("KVTOLLMAR", &err);
  ASSERT_TRUE(silent) << err;
  const auto start = std::chrono::steady_clock::now();
  std::vector<platform::PipeConnection> queued;
  for (int i = 0; i < 3; ++i) {
    auto pipe = platform::openPipe("KVTOLLMAR", &err);
    ASSERT_TRUE(pipe) << err;
    ASSERT_TRUE(pipe->writeAll(std::vector<std::uint8_t>{'A', 'A', 'A', 0}));
    queued.push_back(std::move(*pipe));
  }
  for (std::size_t i = 0; i < queued.size(); ++i) {
    SCOPED_TRACE("queued client " + std::to_string(i));
    std::uint8_t reply[16] = {};
    const std::size_t got = queued[i].readSome(reply, 5s);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply), got), std::string("OK\0", 3));
  }
  // The queued clients are served beside the silent one, not after it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
  std::uint8_t nothing[4] = {};
  EXPECT_EQ(silent->readSome(nothing, 1s), 0u) << "a client without a request gets no reply";
  stopManager(*manager);
}

// Connects `count` times to the pipe at `path` as user nobody in a child process and says
// nothing. Once the server has closed all but `keptOpen` of them, or after `wait`, the child
// reports how many it closed and holds the rest open until it is killed.
class SilentClientsOfAnotherUser {
 public:
  SilentClientsOfAnotherUser(const std::string& path, int count, int keptOpen,
                             std::chrono::milliseconds wait) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    int report[2];
    if (pipe(report) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      ::close(report[0]);
      holdSilently(address, count, keptOpen, wait, report[1]);  // only system calls: no locks
    }
    ::close(report[1]);
    std::uint8_t closedCount = 0;
    if (pid_ > 0 && read(report[0], &closedCount, 1) == 1) {
      closedByServer_ = closedCount;
    }
    ::close(report[0]);
  }
  ~SilentClientsOfAnotherUser() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  SilentClientsOfAnotherUser(const SilentClientsOfAnotherUser&) = delete;
  SilentClientsOfAnotherUser& operator=(const SilentClientsOfAnotherUser&) = delete;

  /// How many connections the server closed at once; empty when the child could not connect.
  std::optional<int> closedByServer() const { return closedByServer_; }

 private:
  [[noreturn]] static void holdSilently(const sockaddr_un& address, int count, int keptOpen,
                                        std::chrono::milliseconds wait, int report) {
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kNogroup = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(kNogroup, kNogroup, kNogroup) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(2);
    }
    std::array<pollfd, 64> clients{};
    for (int i = 0; i < count; ++i) {
      clients[i] = {socket(AF_UNIX, SOCK_STREAM, 0), POLLIN, 0};
      if (connect(clients[i].fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0) {
        _exit(3);
      }
    }
    // A closed connection reads as the end of its stream at once; a kept one stays silent.
    const auto end = std::chrono::steady_clock::now() + wait;  // a vDSO read: no lock
    int closed = poll(clients.data(), count, 0);
    while (closed < count - keptOpen && std::chrono::steady_clock::now() < end) {
      const timespec pause{0, 5'000'000};
      nanosleep(&pause, nullptr);
      closed = poll(clients.data(), count, 0);
    }
    const auto reported = static_cast<std::uint8_t>(std::max(closed, 0));
    (void)!write(report, &reported, 1);
    for (;;) {
      pause();
    }
  }

  pid_t pid_ = -1;
  std::optional<int> closedByServer_;
};

TEST_F(ManagerServiceTest, ASilentFloodOfAnotherUserDoesNotDelayOthersRequests) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root may run a process as another user";
  }
  // Every user may reach the manager pipe; the test's folder must let nobody reach it too.
  std::filesystem::permissions(
      dir_.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  writeConfig({});
  auto manager = startManager();
  ASSERT_TRUE(managerPipeReady());
  ASSERT_EQ(sendToManager("AAA"), std::string("OK\0", 3)) << "the pipe thread serves";

  constexpr int kSilentClients = 12;
  SilentClientsOfAnotherUser flood(dir_.path() + "pipe/KVTOLLMAR", kSilentClients,
                                   kMaxRequestsInFlightPerUser, 900ms);
  ASSERT_TRUE(flood.closedByServer().has_value()) << "the child could not connect as nobody";
  EXPECT_EQ(*flood.closedByServer(), kSilentClients - kMaxRequestsInFlightPerUser)
      << "a user's connections beyond its share are closed at once";

  const auto start = std::chrono::steady_clock::now();
  std::string err;
  EXPECT_EQ(common::requestManagerReload(&err), common::ReloadResult::kConfirmed) << err;
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 500ms) << "took "
                         << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                         << " ms";
  stopManager(*manager);
}

}  // namespace
}  // namespace korvane::manager
