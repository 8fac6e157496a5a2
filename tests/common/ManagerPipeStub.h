#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "common/ManagerPipeClient.h"
#include "platform/LocalPipe.h"

namespace korvane::testing {

/// A stand-in for the manager's pipe server in the current program directory: it counts the
/// requests it reads and answers each with "OK" and a zero, or, when told so, closes without an
/// answer or answers something else.
class ManagerPipeStub {
 public:
  enum class Reply { kAnswer, kCloseWithoutAnswer, kWrongAnswer };

  explicit ManagerPipeStub(Reply reply = Reply::kAnswer) : reply_(reply) {
    server_ = platform::PipeServer::create(common::kManagerPipeName,
                                           platform::PipeAccess::kEveryone, &error_);
    if (!server_) {
      return;
    }
    thread_ = std::thread([this] { serve(); });
  }

  ~ManagerPipeStub() {
    if (thread_.joinable()) {
      server_->close();
      thread_.join();
    }
  }

  ManagerPipeStub(const ManagerPipeStub&) = delete;
  ManagerPipeStub& operator=(const ManagerPipeStub&) = delete;

  bool running() const { return thread_.joinable(); }
  const std::string& error() const { return error_; }
  int requests() const { return requests_.load(); }

  std::string lastRequest() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
  }

 private:
  void serve() {
    while (std::optional<platform::PipeConnection> client = server_->accept()) {
      std::array<std::uint8_t, 1024> request{};
      const std::size_t size = client->readSome(request, std::chrono::milliseconds(2000));
      if (size == 0) {
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        lastRequest_.assign(reinterpret_cast<const char*>(request.data()), size);
      }
      ++requests_;
      if (reply_ != Reply::kCloseWithoutAnswer) {
        const std::string_view text =
            reply_ == Reply::kAnswer ? common::kReloadReply : std::string_view("NO\0", 3);
        const std::span<const std::uint8_t> answer(
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        (void)client->writeAll(answer);
      }
    }
  }

  Reply reply_;
  std::string error_;
  // Held in an optional: the server is only ever made by create().
  std::optional<platform::PipeServer> server_;
  std::thread thread_;
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::string lastRequest_;
};

}  // namespace korvane::testing
