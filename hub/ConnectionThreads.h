#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "common/RunThread.h"
#include "hub/ConnectionContext.h"
#include "hub/NameLookupPool.h"
#include "hub/SocketPort.h"

namespace korvane::hub {

/// Runs `body` on a new detached thread; false when the system cannot make one.
using ThreadStarter = std::function<bool(std::function<void()> body)>;

/// The ThreadStarter of the hub: a std::thread, detached.
bool startDetachedThread(std::function<void()> body);

/// The threads of the hub's connections: for each accepted connection one detached port thread,
/// and a name lookup on one of at most kMaxNameLookups lookup threads; both hold the port, so
/// that it lives as long as either needs it. Counts the port threads, so that shut-down can
/// wait for them.
class ConnectionThreads : public std::enable_shared_from_this<ConnectionThreads> {
 public:
  /// The name lookups report an exception that escapes one of their threads to `onFailure`;
  /// port threads are made by `startThread`.
  explicit ConnectionThreads(const common::ThreadFailureHandler& onFailure,
                             ThreadStarter startThread = startDetachedThread)
      : startThread_(std::move(startThread)),
        nameLookups_(kMaxNameLookups, kMaxQueuedNameLookups, onFailure) {}

  /// Starts the port thread of `port` and asks for its host name (see namePort). False when the
  /// port thread cannot be made; nothing runs for the port then.
  [[nodiscard]] bool start(ConnectionContext hub, std::shared_ptr<SocketPort> port);

  /// Waits at most `limit` until no port thread runs; false on time-out.
  bool waitUntilAllEnded(std::chrono::milliseconds limit);

  /// Port threads running now.
  int running() const;

 private:
  void ended();

  const ThreadStarter startThread_;
  mutable std::mutex mutex_;
  std::condition_variable allEnded_;
  int running_ = 0;
  NameLookupPool nameLookups_;
};

}  // namespace korvane::hub
