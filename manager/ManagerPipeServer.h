#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "common/RunThread.h"
#include "platform/Clock.h"
#include "platform/LocalPipe.h"

namespace korvane::manager {

/// Clients of one user that the manager pipe serves at the same time; a further connection of
/// that user is closed at once without an answer. A tool sends one request and has its answer
/// within milliseconds, so four cover a user's panel and a few scripts at once, while a user
/// that connects and stays silent holds no more than four of the slots, whatever it floods.
inline constexpr int kMaxRequestsInFlightPerUser = 4;

/// Clients served at the same time over all users but root, each on a short thread of its own.
/// Eight users at their share: far more than a machine's tools ever send at once, and few
/// threads. Root, the service's own user, is served beyond it (up to its own share), so users
/// that join up to fill it still cannot keep root's tools out.
inline constexpr int kMaxRequestsInFlight = 8 * kMaxRequestsInFlightPerUser;

/// The manager pipe "KVTOLLMAR", open to every local user: each message of 1 to 1024 bytes,
/// whatever it holds, asks for one reload and is answered "OK" and a zero byte. One thread
/// accepts; each admitted client is served on a thread of its own, so a client that sends
/// nothing within a second (and is then dropped without a reply) delays nobody else.
class ManagerPipeServer {
 public:
  explicit ManagerPipeServer(const platform::Clock& clock) : clock_(clock) {}
  ~ManagerPipeServer() { stop(); }
  ManagerPipeServer(const ManagerPipeServer&) = delete;
  ManagerPipeServer& operator=(const ManagerPipeServer&) = delete;

  /// Starts serving; `onRequest` runs for every request, on the client's thread (so possibly
  /// on several threads at once), and an exception that escapes a pipe thread goes to
  /// `onFailure`.
  void start(std::function<void()> onRequest, common::ThreadFailureHandler onFailure = {});

  /// Ends the pipe's threads and removes the pipe. Safe to call twice.
  void stop();

 private:
  /// A client's thread, owned by the accepting thread. The client holds one of its user's slots
  /// until `answered`, which is set before the reply goes out, so a client that sends its next
  /// request as soon as it has the reply finds its slot free again.
  struct ClientThread {
    explicit ClientThread(std::uint32_t peer) : user(peer) {}
    std::uint32_t user;
    std::atomic<bool> answered{false};
    std::atomic<bool> done{false};  // the thread has nothing left to do: joining it is quick
    std::thread thread;
  };

  bool createInstance();
  void serve();
  void admit(platform::PipeConnection client);
  bool hasRoomFor(std::uint32_t user) const;
  void joinFinishedClients();
  void joinAllClients();
  void serveClient(platform::PipeConnection& client, std::atomic<bool>& answered);

  const platform::Clock& clock_;
  std::function<void()> onRequest_;
  common::ThreadFailureHandler onFailure_;
  std::atomic<bool> stopping_{false};
  std::mutex serverMutex_;  // guards creating the instance against stop() closing it
  std::optional<platform::PipeServer> server_;
  std::thread thread_;
  // Only the accepting thread touches the list; a client thread only sets its own flags.
  std::list<ClientThread> clients_;
};

}  // namespace korvane::manager
