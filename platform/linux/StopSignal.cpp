#include "platform/StopSignal.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

namespace korvane::platform {

// The signals are blocked in every thread and read from a signalfd; an eventfd lets the
// destructor wake the watching thread without sending it a signal.
struct StopSignalWatcher::State {
  int signalFd = -1;
  int wakeFd = -1;
  std::thread thread;
};

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void watch(int signalFd, int wakeFd, const std::function<void()>& onStop) {
  pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      (void)!read(signalFd, &info, sizeof info);
      onStop();
      return;
    }
  }
}

}  // namespace

StopSignalWatcher::StopSignalWatcher(std::function<void()> onStop)
    : state_(std::make_unique<State>()) {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  state_->signalFd = signalfd(-1, &set, SFD_CLOEXEC);
  state_->wakeFd = eventfd(0, EFD_CLOEXEC);
  if (state_->signalFd < 0 || state_->wakeFd < 0) {
    // Without the descriptors the signals keep their default action: they end the process.
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return;
  }
  state_->thread = std::thread(watch, state_->signalFd, state_->wakeFd, std::move(onStop));
}

StopSignalWatcher::~StopSignalWatcher() {
  if (state_->thread.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(state_->wakeFd, &one, sizeof one);
    state_->thread.join();
  }
  if (state_->signalFd >= 0) {
    close(state_->signalFd);
  }
  if (state_->wakeFd >= 0) {
    close(state_->wakeFd);
  }
}

}  // namespace korvane::platform
