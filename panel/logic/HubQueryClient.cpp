#include "panel/logic/HubQueryClient.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "common/ControlReply.h"
#include "platform/LocalPipe.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;

// The hub serves one client at a time: a busy pipe is tried six times, 100 ms apart.
constexpr int kOpenAttempts = 6;
constexpr auto kOpenRetryDelay = 100ms;
// How long the panel waits for a reply before it takes the hub as not answering.
constexpr auto kReplyWait = 5000ms;

}  // namespace

// Sends one request and returns the whole reply (header and data) when it is well formed: right
// magic, and header plus announced data within the reply limit and all received.
std::optional<std::vector<std::uint8_t>> HubQueryClient::ask(int hubNumber, std::uint32_t command,
                                                             std::uint32_t parameter) const {
  std::optional<platform::PipeConnection> pipe;
  for (int attempt = 0; attempt < kOpenAttempts && !pipe; ++attempt) {
    if (attempt > 0) {
      clock_.sleepFor(kOpenRetryDelay);
    }
    std::string err;
    pipe = platform::openPipe(common::hubPipeName(hubNumber), &err);
  }
  if (!pipe) {
    return std::nullopt;
  }
  common::ControlHeader request;
  request.command = command;
  request.parameter = parameter;
  if (!pipe->writeAll(common::encodeControlHeader(request))) {
    return std::nullopt;
  }

  const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
  const auto remaining = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::max(
        deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration{}));
  };
  std::vector<std::uint8_t> reply(common::kControlHeaderSize);
  if (pipe->readFully(reply, remaining()) < reply.size()) {
    return std::nullopt;
  }
  const common::ControlHeader header = common::decodeControlHeader(
      std::span<const std::uint8_t, common::kControlHeaderSize>(reply.data(), reply.size()));
  if (!common::isAcceptableReplyHeader(header)) {
    return std::nullopt;
  }
  reply.resize(common::kControlHeaderSize + header.length);
  std::span<std::uint8_t> data(reply.data() + common::kControlHeaderSize, header.length);
  if (pipe->readFully(data, remaining()) < data.size()) {
    return std::nullopt;
  }
  return reply;
}

std::int32_t HubQueryClient::queryState(int hubNumber) const {
  const auto reply =
      ask(hubNumber, static_cast<std::uint32_t>(common::HubCommand::kListenState), 0);
  if (!reply) {
    return 0;
  }
  return common::decodeListenStateReply(*reply).value_or(0);
}

std::optional<std::vector<common::PortListEntry>> HubQueryClient::queryConnections(
    int hubNumber, std::uint32_t windowId) const {
  const auto reply =
      ask(hubNumber, static_cast<std::uint32_t>(common::HubCommand::kPortList), windowId);
  if (!reply) {
    return std::nullopt;
  }
  return common::decodePortListReply(*reply);
}

}  // namespace korvane::panel
