#include "hub/ControlPipe.h"

#include <array>
#include <chrono>

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;

// A client that connects and then sends nothing is dropped after this, so that it cannot keep
// the hub from being stopped or queried.
constexpr auto kRequestReadLimit = 1000ms;
// Pipe creation is retried at this pace, without a log line, for as long as it fails.
constexpr auto kCreateRetryDelay = 1000ms;

}  // namespace

ControlPipe::Handler ControlPipe::handlerFor(std::uint32_t command) {
  switch (static_cast<common::HubCommand>(command)) {
    case common::HubCommand::kStop:
      return &ControlPipe::stopHub;
    default:
      return &ControlPipe::ignore;
  }
}

std::optional<platform::PipeServer> ControlPipe::createPipe() {
  for (;;) {
    std::string err;
    auto server = platform::PipeServer::create(common::hubPipeName(state_.hubNumber),
                                               platform::PipeAccess::kOwnerOnly, &err);
    if (server) {
      return server;
    }
    if (state_.shuttingDown()) {
      return std::nullopt;
    }
    state_.clock.sleepFor(kCreateRetryDelay);
  }
}

void ControlPipe::runControlPipe() {
  while (auto server = createPipe()) {
    Outcome outcome = Outcome::kNext;
    while (outcome == Outcome::kNext) {
      // The flag is looked at once the pipe exists and again after every wake-up: whoever sets
      // it connects afterwards, so either this look or the next accept sees it.
      if (state_.shuttingDown()) {
        return;
      }
      auto client = server->accept();
      if (state_.shuttingDown()) {
        return;
      }
      if (!client) {
        outcome = Outcome::kRecreate;
        break;
      }
      outcome = serve(*client);
    }
    if (outcome == Outcome::kStop) {
      return;
    }
  }
}

ControlPipe::Outcome ControlPipe::serve(platform::PipeConnection& client) {
  std::array<std::uint8_t, common::kControlHeaderSize> bytes{};
  if (client.readFully(bytes, kRequestReadLimit) < bytes.size()) {
    return Outcome::kNext;
  }
  const common::ControlHeader request = common::decodeControlHeader(bytes);
  if (request.magic != common::kControlMagic) {
    return Outcome::kRecreate;
  }
  return (this->*handlerFor(request.command))(client, request);
}

ControlPipe::Outcome ControlPipe::stopHub(platform::PipeConnection&,
                                          const common::ControlHeader&) {
  state_.log("Detect Termination Signal !");
  state_.requestShutdown();
  return Outcome::kStop;
}

ControlPipe::Outcome ControlPipe::ignore(platform::PipeConnection&,
                                         const common::ControlHeader&) {
  return Outcome::kNext;
}

void wakeControlPipe(int hubNumber) {
  std::string err;
  auto connection = platform::openPipe(common::hubPipeName(hubNumber), &err);
  if (connection) {
    connection->close();
  }
}

}  // namespace korvane::hub
