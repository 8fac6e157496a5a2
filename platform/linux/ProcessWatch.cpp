#include "platform/ProcessWatch.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace korvane::platform {

// A pidfd refers to the process itself, not to its number: it becomes readable when that
// process ends, even if the number is handed to a new process meanwhile. The process need not
// be our child, and watching it does not reap it.
bool waitForProcessEnd(int processId) {
  if (processId <= 0) {
    return false;
  }
  const long fd = syscall(SYS_pidfd_open, processId, 0);  // always close-on-exec
  if (fd < 0) {
    return false;
  }
  pollfd entry{static_cast<int>(fd), POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&entry, 1, -1);
  } while (ready < 0 && errno == EINTR);
  close(static_cast<int>(fd));
  return ready > 0 && (entry.revents & POLLIN) != 0;
}

}  // namespace korvane::platform
