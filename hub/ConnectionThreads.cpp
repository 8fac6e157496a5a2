#include "hub/ConnectionThreads.h"

#include <system_error>
#include <thread>

#include "hub/PeerName.h"
#include "hub/PortThread.h"

namespace korvane::hub {

bool startDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool ConnectionThreads::start(ConnectionContext hub, std::shared_ptr<SocketPort> port) {
  {
    const std::lock_guard lock(mutex_);
    ++running_;
  }
  const bool started = startThread_([self = shared_from_this(), hub = std::move(hub), port] {
    {
      PortThread thread(hub, port);
      thread.run();
    }
    self->ended();
  });
  if (!started) {
    ended();
    return false;
  }
  namePort(port, nameLookups_);
  return true;
}

bool ConnectionThreads::waitUntilAllEnded(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return allEnded_.wait_for(lock, limit, [this] { return running_ == 0; });
}

int ConnectionThreads::running() const {
  const std::lock_guard lock(mutex_);
  return running_;
}

void ConnectionThreads::ended() {
  const std::lock_guard lock(mutex_);
  if (--running_ == 0) {
    allEnded_.notify_all();
  }
}

}  // namespace korvane::hub
