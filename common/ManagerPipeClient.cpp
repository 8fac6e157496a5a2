#include "common/ManagerPipeClient.h"

#include <array>
#include <cstdint>
#include <span>

#include "platform/LocalPipe.h"

namespace korvane::common {

int requestManagerReload(std::string* err) {
  std::string openError;
  std::optional<platform::PipeConnection> pipe = platform::openPipe(kManagerPipeName, &openError);
  if (!pipe) {
    if (err != nullptr) {
      *err = "cannot open the manager pipe: " + openError;
    }
    return -1;
  }
  const std::span<const std::uint8_t> request(
      reinterpret_cast<const std::uint8_t*>(kReloadRequest.data()), kReloadRequest.size());
  if (!pipe->writeAll(request)) {
    if (err != nullptr) {
      *err = "cannot send the reload request to the manager";
    }
    return -1;
  }
  std::array<std::uint8_t, kReloadReplyBufferSize> reply{};
  // The reply only tells that the manager took the request; its content does not matter.
  pipe->readSome(reply, kReloadReplyWait);
  pipe->close();
  return 0;
}

}  // namespace korvane::common
