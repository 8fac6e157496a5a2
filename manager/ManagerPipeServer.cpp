#include "manager/ManagerPipeServer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <utility>

#include "common/ManagerPipeClient.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;

// A request is at most this long; the content is never looked at.
constexpr std::size_t kRequestBufferSize = 1024;
// Creation of the pipe is retried at this pace for as long as it fails.
constexpr auto kCreateRetryDelay = 1000ms;
// A client that connects and sends nothing for this long is dropped like one that left. A request
// is one small write that arrives at once; one second (the pipe's default time-out) bounds how
// long a silent client holds its thread and one of its user's slots.
constexpr auto kRequestReadLimit = 1000ms;
// The reply is three bytes, for which the socket always has room; the limit only keeps a
// connection that went wrong from holding its thread.
constexpr auto kReplyWriteLimit = 1000ms;
// The user the service runs as in production, whose tools are served beyond kMaxRequestsInFlight.
constexpr std::uint32_t kRootUserId = 0;

}  // namespace

// start() runs on the service's main thread and stop() on the stop-signal thread, possibly at
// the same time: the thread object is handed over under the lock, and a stop that comes first
// keeps the pipe from starting at all.
void ManagerPipeServer::start(std::function<void()> onRequest,
                              common::ThreadFailureHandler onFailure) {
  std::lock_guard lock(serverMutex_);
  if (stopping_) {
    return;
  }
  onRequest_ = std::move(onRequest);
  onFailure_ = std::move(onFailure);
  thread_ = std::thread([this] {
    common::runThread(
        "ManagerPipe", [this] { serve(); }, onFailure_);
    joinAllClients();  // whatever ended the accepting, no client thread outlives this one
  });
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
    // The same instance serves client after client; only an instance that can no longer accept
    // is made anew, since that drops the clients waiting in its queue.
    while (auto client = server_->accept()) {
      if (stopping_) {
        break;
      }
      admit(std::move(*client));
    }
  }
}

// A client is admitted when its user has a free slot; otherwise it is closed at once without an
// answer, which costs the accepting thread no wait, so a user's flood of connections cannot
// hold back another user's request.
void ManagerPipeServer::admit(platform::PipeConnection client) {
  joinFinishedClients();
  const std::optional<std::uint32_t> user = client.peerUserId();
  if (!user || !hasRoomFor(*user)) {
    return;
  }
  ClientThread& entry = clients_.emplace_back(*user);
  try {
    entry.thread = std::thread([this, &entry, connection = std::move(client)]() mutable {
      common::runThread(
          "ManagerPipeClient", [&] { serveClient(connection, entry.answered); }, onFailure_);
      connection.close();
      entry.answered.store(true, std::memory_order_release);  // also when no request came
      entry.done.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    clients_.pop_back();  // no thread to be had now: the client is dropped like a refused one
  }
}

bool ManagerPipeServer::hasRoomFor(std::uint32_t user) const {
  int ofUser = 0;
  int inAll = 0;
  for (const ClientThread& entry : clients_) {
    if (entry.answered.load(std::memory_order_acquire)) {
      continue;
    }
    ++inAll;
    ofUser += entry.user == user ? 1 : 0;
  }
  if (ofUser >= kMaxRequestsInFlightPerUser) {
    return false;
  }
  return user == kRootUserId || inAll < kMaxRequestsInFlight;
}

void ManagerPipeServer::joinFinishedClients() {
  std::erase_if(clients_, [](ClientThread& entry) {
    if (!entry.done.load(std::memory_order_acquire)) {
      return false;
    }
    entry.thread.join();  // returns at once: the thread has nothing left to do
    return true;
  });
}

void ManagerPipeServer::joinAllClients() {
  for (ClientThread& entry : clients_) {
    entry.thread.join();  // each ends within its read and write limits
  }
  clients_.clear();
}

void ManagerPipeServer::serveClient(platform::PipeConnection& client,
                                    std::atomic<bool>& answered) {
  std::array<std::uint8_t, kRequestBufferSize> request{};
  if (client.readSome(request, kRequestReadLimit) == 0) {
    return;  // a client that left or stayed silent: no request, no reload, no reply
  }
  if (stopping_) {
    return;
  }
  onRequest_();
  answered.store(true, std::memory_order_release);
  const auto* reply = reinterpret_cast<const std::uint8_t*>(common::kReloadReply.data());
  (void)client.writeAll({reply, common::kReloadReply.size()}, kReplyWriteLimit);
}

}  // namespace korvane::manager
