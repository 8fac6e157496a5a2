#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "common/RunThread.h"
#include "hub/ConnectionContext.h"
#include "hub/ConnectionThreads.h"
#include "hub/ListenState.h"
#include "platform/TcpConnection.h"
#include "platform/TcpListener.h"

namespace korvane::hub {

/// The listener thread: accepts client connections on the hub's TCP port, on every local address
/// (IPv4 and IPv6) where it can and on the IPv4 any-address otherwise, refuses them while MaxCon
/// connections exist (logging that at most once a second), and starts a port thread and a name
/// lookup for each other one. When another program already listens on the TCP port the hub runs
/// on without accepting.
class Listener {
 public:
  /// A listener for `tcpPort` that reports in `listenState` whether it listens, and hands each
  /// connection's threads `connections`; port threads are made by `startThread`.
  Listener(std::uint16_t tcpPort, std::atomic<ListenState>& listenState,
           ConnectionContext connections, ThreadStarter startThread = startDetachedThread);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  /// Starts the thread. An exception that escapes it ends the process with the
  /// "Catch Exception in ListenThread" lines.
  void start();

  /// Closes the listening sockets and waits until the thread has ended; connections go on.
  void stop();

  /// Waits at most `limit` until every connection's port thread has ended; false on time-out.
  bool waitForConnectionThreads(std::chrono::milliseconds limit);

 private:
  enum class Outcome { kNoAddress, kEnded };

  void run();
  void listen();
  bool tcpPortInUse() const;
  Outcome listenOnAllAddresses();
  void listenOnIpv4Only();
  bool openIpv4Only();
  void acceptOnAllAddresses();
  void acceptOnIpv4Only();
  /// Takes one accepted connection: refused when the hub is full, else given its threads.
  void takeConnection(platform::TcpConnection accepted);
  /// Waits `delay` unless stop() comes first; false when it did.
  bool pauseUnlessStopped(std::chrono::milliseconds delay);
  bool stopping();

  const std::uint16_t tcpPort_;
  std::atomic<ListenState>& listenState_;
  const ConnectionContext hub_;
  std::shared_ptr<ConnectionThreads> connections_;
  platform::TcpListener sockets_;
  std::mutex mutex_;
  std::condition_variable stopRequested_;
  bool stopping_ = false;
  common::ThreadProgress progress_{"ListenThread(IPv6Enabled)"};
  std::thread thread_;
};

}  // namespace korvane::hub
