#include "common/ManagerPipeClient.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/LocalPipe.h"

namespace korvane::common {
namespace {

ReloadResult failWith(ReloadResult result, std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
  return result;
}

}  // namespace

ReloadResult requestManagerReload(std::string* err) {
  std::string openError;
  platform::PipeOpenFailure failure = platform::PipeOpenFailure::kError;
  std::optional<platform::PipeConnection> pipe =
      platform::openPipe(kManagerPipeName, &openError, &failure);
  if (!pipe) {
    // A full queue of waiting clients means a manager runs that cannot take the request now.
    const ReloadResult result = failure == platform::PipeOpenFailure::kBusy
                                    ? ReloadResult::kNotConfirmed
                                    : ReloadResult::kNoManager;
    return failWith(result, err, "cannot open the manager pipe: " + openError);
  }
  const std::span<const std::uint8_t> request(
      reinterpret_cast<const std::uint8_t*>(kReloadRequest.data()), kReloadRequest.size());
  if (!pipe->writeAll(request, kReloadReplyWait)) {
    return failWith(ReloadResult::kNotConfirmed, err,
                    "the pipe closed before the request was sent");
  }
  std::array<std::uint8_t, kReloadReply.size()> reply{};
  const std::size_t got = pipe->readFully(reply, kReloadReplyWait);
  if (got == 0) {
    return failWith(ReloadResult::kNotConfirmed, err,
                    "no reply within " + std::to_string(kReloadReplyWait.count()) + " ms");
  }
  if (!std::equal(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(got),
                  kReloadReply.begin(), kReloadReply.end())) {
    return failWith(ReloadResult::kNotConfirmed, err, "a reply other than \"OK\"");
  }
  return ReloadResult::kConfirmed;
}

}  // namespace korvane::common
