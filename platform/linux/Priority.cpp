#include "platform/Priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace korvane::platform {

// Niceness stands in for priority classes: -10 for a "high" process, -15 for a thread that moves
// every frame of its connection. Both need privilege; without it the calls fail and we carry on.
namespace {
constexpr int kHighProcessNice = -10;
constexpr int kTimeCriticalThreadNice = -15;
}  // namespace

void raiseProcessPriority() {
  (void)setpriority(PRIO_PROCESS, 0, kHighProcessNice);
}

void raiseThreadPriority() {
  const auto threadId = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, threadId, kTimeCriticalThreadNice);
}

}  // namespace korvane::platform
