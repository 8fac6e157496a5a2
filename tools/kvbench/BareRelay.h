#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpConnection.h"
#include "platform/TcpListener.h"

namespace korvane::tools {

/// The yardstick for the hub: a relay in this process that copies the bytes each connection
/// sends to every other connection, without looking at them. It moves bytes as the hub does:
/// one receive of up to 64 KiB per pass, then per other connection one write of what the socket
/// takes at once, the rest copied into that connection's queue, which a writer thread of its own
/// drains. Where the hub drops beyond 4 MiB queued, the relay makes the sender wait, so it loses
/// nothing. It does what a hub must do at least, so its rate is what a relay reaches on this
/// machine.
///
/// Bytes are not cut at record boundaries, so two connections must not send to a third at the
/// same time; kvbench's traffic never does.
class BareRelay {
 public:
  BareRelay() = default;
  ~BareRelay();
  BareRelay(const BareRelay&) = delete;
  BareRelay& operator=(const BareRelay&) = delete;

  /// Listens on a port the kernel picks and starts accepting; false with a message in `err`.
  [[nodiscard]] bool start(std::string* err);

  /// The port it listens on.
  int port() const { return port_; }

  /// Ends every connection and joins every thread. Safe to call twice.
  void stop();

 private:
  struct Link {
    platform::TcpConnection connection;
    std::mutex mutex;                             // guards the fields below
    std::condition_variable changed;              // queue filled, drained, or stopping
    std::deque<std::vector<std::uint8_t>> queue;  // bytes the socket did not take at once
    std::size_t queuedBytes = 0;
    bool writing = false;  // the writer holds a chunk taken from the queue
    bool failed = false;   // a write failed: nothing more goes here
    bool stopping = false;
    std::thread reader;
    std::thread writer;
  };

  void acceptLoop();
  void forwardLoop(Link& source);
  void writeLoop(Link& target);
  void sendTo(Link& target, std::span<const std::uint8_t> bytes);
  std::vector<Link*> linksSnapshot();

  platform::TcpListener listener_;
  int port_ = 0;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  std::mutex linksMutex_;
  std::deque<std::unique_ptr<Link>> links_;  // under linksMutex_; only stop() removes links
};

}  // namespace korvane::tools
