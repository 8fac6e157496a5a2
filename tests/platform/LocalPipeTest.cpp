#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/LocalPipe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;
using korvane::testing::fileExists;
using korvane::testing::TempProgramDir;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kGenerous = 10s;  // a limit that is never reached when the code works

std::vector<std::uint8_t> bytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

std::string textOf(std::span<const std::uint8_t> data) {
  return {data.begin(), data.end()};
}

std::optional<PipeServer> serve(std::string_view name, PipeAccess access = PipeAccess::kOwnerOnly) {
  std::string err;
  auto server = PipeServer::create(name, access, &err);
  EXPECT_TRUE(server.has_value()) << err;
  return server;
}

std::optional<PipeConnection> connect(std::string_view name) {
  std::string err;
  auto connection = openPipe(name, &err);
  EXPECT_TRUE(connection.has_value()) << err;
  return connection;
}

std::filesystem::perms permissionsOf(const std::string& path) {
  return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
}

/// Sets the process umask for one scope.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(umask(mask)) {}
  ~UmaskScope() { umask(previous_); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t previous_;
};

// --- Serving ---------------------------------------------------------------------------------

TEST(PipeConnection, RequestAndReplyRoundTrip) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);

  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("AAA")));

  auto served = server->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> request(3);
  ASSERT_EQ(served->readFully(request, kGenerous), 3u);
  EXPECT_EQ(textOf(request), "AAA");
  ASSERT_TRUE(served->writeAll(bytesOf("OK")));

  std::vector<std::uint8_t> reply(2);
  ASSERT_EQ(client->readFully(reply, kGenerous), 2u);
  EXPECT_EQ(textOf(reply), "OK");
}

TEST(PipeConnection, PeerUserIdIsTheUserThatConnected) {
  TempProgramDir dir;
  dir.useForThisProcess();
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  auto server = serve("KVTEST", PipeAccess::kEveryone);
  ASSERT_TRUE(server);
  {
    auto client = connect("KVTEST");
    auto served = server->accept();
    ASSERT_TRUE(client && served);
    EXPECT_EQ(served->peerUserId(), geteuid());
    served->close();
    EXPECT_EQ(served->peerUserId(), std::nullopt) << "a closed connection has no peer";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root may connect as another user";
  }
  constexpr uid_t kNobody = 65534;
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(2);
    }
    std::string err;
    _exit(openPipe("KVTEST", &err) ? 0 : 3);  // the connection stays queued after the exit
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  auto served = server->accept();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->peerUserId(), kNobody);
}

TEST(PipeConnection, ReplyLargerThanSocketBufferArrivesWhole) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  auto served = server->accept();
  ASSERT_TRUE(served);

  // As large as a hub's connection-list reply: far beyond what the socket buffers hold, so the
  // writer has to wait for the reader several times.
  std::vector<std::uint8_t> sent(16 + 409'600);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  auto writer = std::async(std::launch::async, [&] { return served->writeAll(sent); });
  std::vector<std::uint8_t> received(sent.size());
  EXPECT_EQ(client->readFully(received, kGenerous), sent.size());
  EXPECT_TRUE(writer.get());
  EXPECT_EQ(received, sent);
}

TEST(PipeServer, ServesWaitingClientsOneAtATimeInOrder) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);

  // Every client connects while the server is busy with none of them: they wait, not fail.
  constexpr int kClients = 4;
  std::vector<PipeConnection> clients;
  for (int i = 0; i < kClients; ++i) {
    auto client = connect("KVTEST");
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->writeAll(std::vector<std::uint8_t>{static_cast<std::uint8_t>('0' + i)}));
    clients.push_back(std::move(*client));
  }

  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE(i);
    auto served = server->accept();
    ASSERT_TRUE(served);
    std::vector<std::uint8_t> id(1);
    ASSERT_EQ(served->readFully(id, kGenerous), 1u);
    EXPECT_EQ(id[0], '0' + i) << "clients are accepted in the order they connected";

    // The next client is not served while this one is: it has no reply yet.
    if (i + 1 < kClients) {
      std::vector<std::uint8_t> early(1);
      EXPECT_EQ(clients[i + 1].readSome(early, 20ms), 0u);
    }
    ASSERT_TRUE(served->writeAll(id));
    served->close();

    std::vector<std::uint8_t> reply(1);
    ASSERT_EQ(clients[i].readFully(reply, kGenerous), 1u);
    EXPECT_EQ(reply[0], id[0]);
  }
}

// --- Opening ---------------------------------------------------------------------------------

TEST(LocalPipe, OpeningAMissingPipeFailsAtOnceWithAMessage) {
  struct Row {
    const char* what;
    bool makeFolder;
    bool serveAnotherPipe;
  };
  const Row rows[] = {
      {"no pipe folder at all", false, false},
      {"pipe folder without the pipe", true, false},
      {"only another pipe is served", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempProgramDir dir;
    dir.useForThisProcess();
    if (row.makeFolder) {
      std::filesystem::create_directory(dir.path() + "pipe");
    }
    std::optional<PipeServer> other;
    if (row.serveAnotherPipe) {
      other = serve("KVOTHER");
    }

    const auto start = SteadyClock::now();
    std::string err;
    PipeOpenFailure failure = PipeOpenFailure::kError;
    EXPECT_FALSE(openPipe("KVTEST", &err, &failure).has_value());
    EXPECT_LT(SteadyClock::now() - start, 1s);
    EXPECT_EQ(err, "connect " + dir.path() + "pipe/KVTEST: No such file or directory");
    EXPECT_EQ(failure, PipeOpenFailure::kNoServer);
  }
}

TEST(LocalPipe, OpeningAPipeWhoseQueueIsFullFailsAtOnceAsBusy) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");  // never accepts
  ASSERT_TRUE(server);

  // The queue holds at most SOMAXCONN (4096) clients; the loop is bounded well above that.
  std::vector<PipeConnection> waiting;
  std::string err;
  PipeOpenFailure failure = PipeOpenFailure::kError;
  for (int i = 0; i < 10'000; ++i) {
    auto client = openPipe("KVTEST", &err, &failure);
    if (!client) {
      break;
    }
    waiting.push_back(std::move(*client));
  }
  if (failure == PipeOpenFailure::kError) {
    GTEST_SKIP() << "the queue could not be filled: " << err;
  }
  const auto start = SteadyClock::now();
  EXPECT_FALSE(openPipe("KVTEST", &err, &failure).has_value());
  EXPECT_LT(SteadyClock::now() - start, 1s);
  EXPECT_EQ(failure, PipeOpenFailure::kBusy) << err;
}

TEST(LocalPipe, PathIsInsideTheProgramDirectory) {
  TempProgramDir dir;
  dir.useForThisProcess();
  EXPECT_EQ(pipePath("KVHUB_0001"), dir.path() + "pipe/KVHUB_0001");
}

TEST(LocalPipe, ProgramDirectoriesDoNotSeeEachOthersPipes) {
  TempProgramDir first;
  TempProgramDir second;
  first.useForThisProcess();
  auto firstServer = serve("KVTOLLMAR");
  ASSERT_TRUE(firstServer);

  second.useForThisProcess();
  std::string err;
  EXPECT_FALSE(openPipe("KVTOLLMAR", &err).has_value()) << "the other directory's pipe was found";
  auto secondServer = serve("KVTOLLMAR");
  ASSERT_TRUE(secondServer) << "the same name is free in another directory";

  auto client = connect("KVTOLLMAR");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("2")));
  auto served = secondServer->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> got(1);
  EXPECT_EQ(served->readFully(got, kGenerous), 1u);
  EXPECT_EQ(textOf(got), "2");
}

TEST(LocalPipe, RejectsNamesThatAreNotOneEntryOfThePipeFolder) {
  const char* const names[] = {"", "a/b", "../KVTOLLMAR", ".", "..", ".hidden"};
  TempProgramDir dir;
  dir.useForThisProcess();
  for (const char* name : names) {
    SCOPED_TRACE(name);
    std::string err;
    EXPECT_FALSE(PipeServer::create(name, PipeAccess::kOwnerOnly, &err).has_value());
    EXPECT_NE(err.find("invalid pipe name"), std::string::npos) << err;
    err.clear();
    EXPECT_FALSE(openPipe(name, &err).has_value());
    EXPECT_NE(err.find("invalid pipe name"), std::string::npos) << err;
  }
  EXPECT_FALSE(fileExists(dir.path() + "KVTOLLMAR"));
}

TEST(LocalPipe, PathLongerThanALocalSocketHoldsIsAnError) {
  TempProgramDir dir;
  dir.useForThisProcess();
  // A local socket path holds at most 107 bytes (108 with its terminating zero).
  constexpr std::size_t kLongestPath = 107;
  const std::size_t folderLength = (dir.path() + "pipe/").size();
  ASSERT_LT(folderLength, kLongestPath);
  const std::string longest(kLongestPath - folderLength, 'L');
  const std::string tooLong = longest + 'X';

  {
    SCOPED_TRACE("exactly at the limit");
    ASSERT_EQ(pipePath(longest).size(), kLongestPath);
    auto server = serve(longest);
    ASSERT_TRUE(server);
    auto client = connect(longest);
    EXPECT_TRUE(client);
  }
  {
    SCOPED_TRACE("one byte over the limit");
    std::string err;
    EXPECT_FALSE(PipeServer::create(tooLong, PipeAccess::kOwnerOnly, &err).has_value());
    EXPECT_EQ(err, "pipe path " + pipePath(tooLong) +
                       " is too long: 108 bytes, a local socket path holds at most 107");
    err.clear();
    EXPECT_FALSE(openPipe(tooLong, &err).has_value());
    EXPECT_NE(err.find("is too long"), std::string::npos) << err;
    // Nothing was bound under a cut name.
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() + "pipe")) {
      entries += entry.is_socket() ? 1 : 0;
    }
    EXPECT_EQ(entries, 0u);
  }
}

// --- Creating --------------------------------------------------------------------------------

TEST(PipeServer, SocketFileModeFollowsAccessWhateverTheUmask) {
  using std::filesystem::perms;
  struct Row {
    PipeAccess access;
    mode_t umask;
    perms expected;
  };
  const Row rows[] = {
      {PipeAccess::kOwnerOnly, 0022, perms::owner_read | perms::owner_write},
      {PipeAccess::kOwnerOnly, 0000, perms::owner_read | perms::owner_write},
      {PipeAccess::kEveryone, 0022,
       perms::owner_read | perms::owner_write | perms::group_read | perms::group_write |
           perms::others_read | perms::others_write},
      {PipeAccess::kEveryone, 0077,
       perms::owner_read | perms::owner_write | perms::group_read | perms::group_write |
           perms::others_read | perms::others_write},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "access " << static_cast<int>(row.access) << " umask 0"
                                      << std::oct << row.umask);
    TempProgramDir dir;
    dir.useForThisProcess();
    UmaskScope mask(row.umask);
    auto server = serve("KVTEST", row.access);
    ASSERT_TRUE(server);
    EXPECT_EQ(permissionsOf(pipePath("KVTEST")), row.expected);
    // Every user must be able to reach the pipes inside the folder, and only its owner to
    // add or remove them.
    EXPECT_EQ(permissionsOf(dir.path() + "pipe"), perms::owner_all | perms::group_read |
                                                      perms::group_exec | perms::others_read |
                                                      perms::others_exec);
  }
}

TEST(PipeServer, ReplacesTheSocketOfAnEndedServer) {
  TempProgramDir dir;
  dir.useForThisProcess();

  // A server process that ends without closing its pipe leaves the socket file behind.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string err;
    auto server = PipeServer::create("KVTEST", PipeAccess::kOwnerOnly, &err);
    _exit(server ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(fileExists(pipePath("KVTEST")));

  std::string err;
  EXPECT_FALSE(openPipe("KVTEST", &err).has_value());
  EXPECT_EQ(err, "connect " + pipePath("KVTEST") + ": Connection refused");

  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("x")));
  auto served = server->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> got(1);
  EXPECT_EQ(served->readFully(got, kGenerous), 1u);
}

TEST(PipeServer, DoesNotTakeAPipeFromALiveServer) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto first = serve("KVTEST");
  ASSERT_TRUE(first);

  std::string err;
  EXPECT_FALSE(PipeServer::create("KVTEST", PipeAccess::kOwnerOnly, &err).has_value());
  EXPECT_EQ(err, "pipe " + pipePath("KVTEST") + " is already served by another server");

  // The first server still gets its clients.
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("x")));
  auto served = first->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> got(1);
  EXPECT_EQ(served->readFully(got, kGenerous), 1u);
}

TEST(PipeServer, LeavesAnythingButASocketAtThePipePathAlone) {
  TempProgramDir dir;
  dir.useForThisProcess();
  std::filesystem::create_directory(dir.path() + "pipe");
  korvane::testing::writeFile(pipePath("KVTEST"), "keep me");

  std::string err;
  EXPECT_FALSE(PipeServer::create("KVTEST", PipeAccess::kOwnerOnly, &err).has_value());
  EXPECT_EQ(err, pipePath("KVTEST") + " exists and is not a pipe; it is left alone");
  EXPECT_EQ(korvane::testing::readFile(pipePath("KVTEST")), "keep me");
}

// --- Closing ---------------------------------------------------------------------------------

TEST(PipeServer, CloseWakesABlockedAccept) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);

  std::atomic<bool> entered{false};
  auto waiting = std::async(std::launch::async, [&] {
    entered = true;
    return server->accept().has_value();
  });
  ASSERT_TRUE(korvane::testing::waitUntil([&] { return entered.load(); }, kGenerous));
  // Give the thread time to block inside accept(); the wake-up must work either way.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout) << "accept returned by itself";

  server->close();
  ASSERT_EQ(waiting.wait_for(kGenerous), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(server->accept().has_value()) << "a closed server accepts nobody";
}

TEST(PipeServer, CloseRemovesThePipeAndFreesItsName) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  server->close();
  server->close();  // harmless

  EXPECT_FALSE(fileExists(pipePath("KVTEST")));
  std::string err;
  EXPECT_FALSE(openPipe("KVTEST", &err).has_value());
  EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
  EXPECT_TRUE(serve("KVTEST")) << "the name can be served again";
}

TEST(PipeServer, ClientsWaitingAtCloseAreDropped) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);

  server->close();
  std::vector<std::uint8_t> got(1);
  EXPECT_EQ(client->readSome(got, kGenerous), 0u);
  EXPECT_FALSE(client->writeAll(bytesOf("x")));
}

// --- Reading and writing with limits ---------------------------------------------------------

TEST(PipeConnection, ReadFullyGivesUpAfterItsLimitWhenTheClientFallsSilent) {
  struct Row {
    const char* what;
    std::string sent;
  };
  const Row rows[] = {
      {"client writes nothing", ""},
      {"client writes part of a request", "abc"},
  };
  constexpr auto kLimit = 200ms;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempProgramDir dir;
    dir.useForThisProcess();
    auto server = serve("KVTEST");
    ASSERT_TRUE(server);
    auto client = connect("KVTEST");
    ASSERT_TRUE(client);
    if (!row.sent.empty()) {
      ASSERT_TRUE(client->writeAll(bytesOf(row.sent)));
    }
    auto served = server->accept();
    ASSERT_TRUE(served);

    std::vector<std::uint8_t> request(16);
    const auto start = SteadyClock::now();
    EXPECT_EQ(served->readFully(request, kLimit), row.sent.size());
    const auto waited = SteadyClock::now() - start;
    EXPECT_GE(waited, kLimit);
    EXPECT_LT(waited, kLimit + 2s);
  }
}

TEST(PipeConnection, ReadFullyGathersPiecesUntilTheBufferIsFull) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  auto served = server->accept();
  ASSERT_TRUE(served);

  auto writer = std::async(std::launch::async, [&] {
    bool ok = client->writeAll(bytesOf("0123456"));
    std::this_thread::sleep_for(30ms);
    ok = client->writeAll(bytesOf("789abcdef+extra")) && ok;
    return ok;
  });
  std::vector<std::uint8_t> request(16);
  EXPECT_EQ(served->readFully(request, kGenerous), 16u);
  EXPECT_EQ(textOf(request), "0123456789abcdef");
  EXPECT_TRUE(writer.get());
}

TEST(PipeConnection, ReadFullyStopsWhenThePeerCloses) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("short")));
  client->close();
  auto served = server->accept();
  ASSERT_TRUE(served);

  std::vector<std::uint8_t> request(16);
  const auto start = SteadyClock::now();
  EXPECT_EQ(served->readFully(request, kGenerous), 5u);
  EXPECT_LT(SteadyClock::now() - start, 2s) << "waited for the limit after the peer had closed";
}

TEST(PipeConnection, ReadSomeTakesWhatArrivedAndNothingAfterItsLimit) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  auto served = server->accept();
  ASSERT_TRUE(served);

  std::vector<std::uint8_t> buffer(1024);
  const auto start = SteadyClock::now();
  EXPECT_EQ(served->readSome(buffer, 100ms), 0u);
  EXPECT_GE(SteadyClock::now() - start, 100ms);

  const std::vector<std::uint8_t> request{'A', 'A', 'A', 0};
  ASSERT_TRUE(client->writeAll(request));
  const std::size_t got = served->readSome(buffer, kGenerous);
  ASSERT_EQ(got, request.size());
  EXPECT_TRUE(std::equal(request.begin(), request.end(), buffer.begin()));

  client->close();
  EXPECT_EQ(served->readSome(buffer, kGenerous), 0u) << "a closed peer reads as nothing";
}

TEST(PipeConnection, WritingToAPeerThatHasGoneFailsWithoutKillingTheProcess) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  auto served = server->accept();
  ASSERT_TRUE(served);
  served->close();

  // Without MSG_NOSIGNAL this write would raise SIGPIPE and end the test program.
  EXPECT_FALSE(client->writeAll(bytesOf("after the peer has gone")));
  EXPECT_FALSE(served->writeAll(bytesOf("on a closed connection")));
}

TEST(PipeConnection, WriteAllGivesUpAfterItsLimitWhenThePeerDoesNotRead) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  auto served = server->accept();
  ASSERT_TRUE(served);

  // A hub's largest connection list, which the socket buffers cannot hold; the client stays
  // connected and never reads.
  const std::vector<std::uint8_t> reply(16 + 409'600, 0x5A);
  constexpr auto kLimit = 200ms;
  const auto start = SteadyClock::now();
  EXPECT_FALSE(served->writeAll(reply, kLimit));
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, kLimit);
  EXPECT_LT(waited, kLimit + 2s);
  EXPECT_TRUE(client->isOpen());
}

TEST(PipeConnection, FinishAndWaitForCloseReturnsOnceTheServerHasReadAndClosed) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("0123456789abcdef")));

  std::atomic<bool> serverClosed{false};
  auto finishing = std::async(std::launch::async, [&] {
    const bool finished = client->finishAndWaitForClose(kGenerous);
    return finished && serverClosed.load();
  });

  auto served = server->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> request(16);
  ASSERT_EQ(served->readFully(request, kGenerous), 16u);
  // The client has said it is done: one more read sees the end of its stream.
  std::vector<std::uint8_t> more(1);
  EXPECT_EQ(served->readSome(more, kGenerous), 0u);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(finishing.wait_for(0ms), std::future_status::timeout)
      << "returned before the server closed";
  serverClosed = true;
  served->close();

  ASSERT_EQ(finishing.wait_for(kGenerous), std::future_status::ready);
  EXPECT_TRUE(finishing.get()) << "returned false, or before the server closed";
}

TEST(PipeConnection, FinishAndWaitForCloseGivesUpAfterItsLimit) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("x")));
  auto served = server->accept();  // held open and never read
  ASSERT_TRUE(served);

  constexpr auto kLimit = 150ms;
  const auto start = SteadyClock::now();
  EXPECT_FALSE(client->finishAndWaitForClose(kLimit));
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, kLimit);
  EXPECT_LT(waited, kLimit + 2s);
}

TEST(PipeConnection, FinishAndWaitForCloseFailsWhenTheServerDroppedTheMessageUnread) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto client = connect("KVTEST");
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->writeAll(bytesOf("never read")));
  auto served = server->accept();
  ASSERT_TRUE(served);
  served->close();

  EXPECT_FALSE(client->finishAndWaitForClose(kGenerous));
}

TEST(PipeConnection, MovedConnectionKeepsTheLink) {
  TempProgramDir dir;
  dir.useForThisProcess();
  auto server = serve("KVTEST");
  ASSERT_TRUE(server);
  auto opened = connect("KVTEST");
  ASSERT_TRUE(opened);
  PipeConnection client = std::move(*opened);
  EXPECT_FALSE(opened->isOpen());
  ASSERT_TRUE(client.isOpen());
  ASSERT_TRUE(client.writeAll(bytesOf("m")));

  auto served = server->accept();
  ASSERT_TRUE(served);
  std::vector<std::uint8_t> got(1);
  EXPECT_EQ(served->readFully(got, kGenerous), 1u);

  PipeServer movedServer = std::move(*server);
  movedServer.close();
  EXPECT_FALSE(fileExists(pipePath("KVTEST")));
}

}  // namespace
}  // namespace korvane::platform
