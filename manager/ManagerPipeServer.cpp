#include "manager/ManagerPipeServer.h"

#include <array>
#include <chrono>
#include <cstdint>

#include "common/ManagerPipeClient.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;

// A request is at most this long; the content is never looked at.
constexpr std::size_t kRequestBufferSize = 1024;
// Creation of the pipe is retried at this pace for as long as it fails.
constexpr auto kCreateRetryDelay = 1000ms;
// A client that connects and sends nothing for this long is dropped like one that left, so a
// silent client cannot keep the next one from being served.
constexpr auto kRequestReadLimit = 5000ms;

}  // namespace

// start() runs on the service's main thread and stop() on the stop-signal thread, possibly at
// the same time: the thread object is handed over under the lock, and a stop that comes first
// keeps the pipe from starting at all.
void ManagerPipeServer::start(std::function<void()> onRequest) {
  std::lock_guard lock(serverMutex_);
  if (stopping_) {
    return;
  }
  onRequest_ = std::move(onRequest);
  thread_ = std::thread([this] { serve(); });
}

void ManagerPipeServer::stop() {
  std::thread serving;
  {
    std::lock_guard lock(serverMutex_);
    stopping_ = true;
    if (server_) {
      server_->close();
    }
    serving = std::move(thread_);
  }
  if (serving.joinable()) {
    serving.join();
  }
}

bool ManagerPipeServer::createInstance() {
  std::lock_guard lock(serverMutex_);
  if (stopping_) {
    return false;
  }
  server_.reset();  // the old instance goes first: a live pipe is never replaced
  std::string err;
  server_ = platform::PipeServer::create(common::kManagerPipeName,
                                         platform::PipeAccess::kEveryone, &err);
  return server_.has_value();
}

void ManagerPipeServer::serve() {
  while (!stopping_) {
    if (!createInstance()) {
      if (!stopping_) {
        clock_.sleepFor(kCreateRetryDelay);
      }
      continue;
    }
    // The same instance serves client after client until a read fails.
    while (auto client = server_->accept()) {
      if (stopping_ || !serveClient(*client)) {
        break;
      }
    }
  }
}

bool ManagerPipeServer::serveClient(platform::PipeConnection& client) {
  std::array<std::uint8_t, kRequestBufferSize> request{};
  if (client.readSome(request, kRequestReadLimit) == 0) {
    return false;  // a client that left without a request: make a new instance, no reload
  }
  if (stopping_) {
    return false;
  }
  onRequest_();
  const auto* reply = reinterpret_cast<const std::uint8_t*>(common::kReloadReply.data());
  (void)client.writeAll({reply, common::kReloadReply.size()});
  client.close();
  return true;
}

}  // namespace korvane::manager
