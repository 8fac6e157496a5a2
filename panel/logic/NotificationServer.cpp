#include "panel/logic/NotificationServer.h"

#include <chrono>
#include <string>

#include "common/NotifyPipe.h"

namespace korvane::panel {
namespace {

constexpr std::chrono::milliseconds kCreateRetryDelay{1000};

}  // namespace

NotificationServer::NotificationServer(std::uint32_t windowId, std::function<void()> onSignal,
                                       const platform::Clock& clock)
    : windowId_(windowId), onSignal_(std::move(onSignal)), clock_(clock) {}

NotificationServer::~NotificationServer() {
  stop();
}

void NotificationServer::start() {
  thread_ = std::thread([this] { serve(); });
}

void NotificationServer::stop() {
  {
    std::lock_guard lock(serverMutex_);
    stopping_ = true;
    if (server_) {
      server_->close();
    }
  }
  if (thread_.joinable()) {
    thread_.join();
  }
}

void NotificationServer::serve() {
  while (!stopping_) {
    {
      std::lock_guard lock(serverMutex_);
      if (stopping_) {
        return;
      }
      std::string err;
      server_ = platform::PipeServer::create(common::notifyPipeName(windowId_),
                                             platform::PipeAccess::kOwnerOnly, &err);
    }
    if (!server_) {
      clock_.sleepFor(kCreateRetryDelay);
      continue;
    }
    // The connection is the whole message: disconnect at once, then signal.
    while (auto client = server_->accept()) {
      client->close();
      if (stopping_) {
        return;
      }
      onSignal_();
    }
  }
}

}  // namespace korvane::panel
