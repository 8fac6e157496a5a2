#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "common/RunThread.h"
#include "platform/Clock.h"
#include "platform/LocalPipe.h"

namespace korvane::manager {

/// The manager pipe "KVTOLLMAR", open to every local user: each message of 1 to 1024 bytes,
/// whatever it holds, asks for one reload and is answered "OK" and a zero byte. Served on a
/// thread of its own, one client at a time; a client that sends nothing within a second is
/// dropped without a reply, and the clients queued behind it are served next.
class ManagerPipeServer {
 public:
  explicit ManagerPipeServer(const platform::Clock& clock) : clock_(clock) {}
  ~ManagerPipeServer() { stop(); }
  ManagerPipeServer(const ManagerPipeServer&) = delete;
  ManagerPipeServer& operator=(const ManagerPipeServer&) = delete;

  /// Starts serving; `onRequest` runs on the pipe thread for every request, and an exception
  /// that escapes the thread goes to `onFailure`.
  void start(std::function<void()> onRequest, common::ThreadFailureHandler onFailure = {});

  /// Ends the pipe thread and removes the pipe. Safe to call twice.
  void stop();

 private:
  bool createInstance();
  void serve();
  void serveClient(platform::PipeConnection& client);

  const platform::Clock& clock_;
  std::function<void()> onRequest_;
  common::ThreadFailureHandler onFailure_;
  std::atomic<bool> stopping_{false};
  std::mutex serverMutex_;  // guards creating the instance against stop() closing it
  std::optional<platform::PipeServer> server_;
  std::thread thread_;
};

}  // namespace korvane::manager
