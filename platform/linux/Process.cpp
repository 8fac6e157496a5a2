#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/linux/Errno.h"

extern char** environ;

namespace korvane::platform {
namespace {

int openProcessHandle(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

Process::Process(Process&& other) noexcept
    : id_(std::exchange(other.id_, -1)), handle_(std::exchange(other.handle_, -1)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) {
      ::close(static_cast<int>(handle_));
    }
    id_ = std::exchange(other.id_, -1);
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

Process::~Process() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

std::optional<Process> Process::spawn(const std::string& program,
                                      const std::vector<std::string>& args, std::string* err) {
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : storage) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  // Every descriptor of ours is opened close-on-exec, so the child inherits only 0, 1 and 2.
  // Signals blocked by this process (stop-signal watcher) must not stay blocked in the child.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    setError(err, SystemError{"posix_spawn " + program, rc}.text());
    return std::nullopt;
  }
  // The child is not collected before we open its handle, so the number still names it.
  const int handle = openProcessHandle(pid);
  if (handle < 0) {
    const SystemError error = errnoError("pidfd_open");
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    setError(err, error.text());
    return std::nullopt;
  }
  return Process(pid, handle);
}

int Process::waitForExit() {
  siginfo_t info{};
  for (;;) {
    if (waitid(P_PIDFD, static_cast<id_t>(handle_), &info, WEXITED) == 0) {
      break;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
  return info.si_code == CLD_EXITED ? info.si_status : -info.si_status;
}

bool Process::isRunning() const {
  pollfd fd{static_cast<int>(handle_), POLLIN, 0};
  return poll(&fd, 1, 0) == 0;
}

void Process::kill() {
  (void)syscall(SYS_pidfd_send_signal, static_cast<int>(handle_), SIGKILL, nullptr, 0);
}

int currentProcessId() {
  return static_cast<int>(getpid());
}

}  // namespace korvane::platform
