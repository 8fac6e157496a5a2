#include "platform/ServiceNotify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace korvane::platform {

void notifyServiceManager(std::string_view state) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || socketPath[0] == '\0') {
    return;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(socketPath);
  if (length >= sizeof address.sun_path) {
    return;
  }
  std::memcpy(address.sun_path, socketPath, length);
  if (address.sun_path[0] == '@') {
    address.sun_path[0] = '\0';  // an abstract socket name
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return;
  }
  const auto addressLength =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  (void)sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address), addressLength);
  close(fd);
}

}  // namespace korvane::platform
