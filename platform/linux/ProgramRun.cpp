#include "platform/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/linux/Deadline.h"
#include "platform/linux/Errno.h"

extern char** environ;

namespace korvane::platform {
namespace {

// The spawn attributes and file actions of one start, released when it goes.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
    // Signals this process blocks (a stop-signal watcher) must not stay blocked in the child.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  void changeDirectory(const std::string& directory) {
    if (!directory.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str());
    }
  }
  void sendOutputTo(int descriptor) { posix_spawn_file_actions_adddup2(&actions_, descriptor, 1); }

  // The child's process id, or -1 with the reason in `err`. A program without a '/' is looked
  // up along PATH.
  pid_t spawn(const std::string& program, const std::vector<std::string>& args, std::string* err) {
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, program.c_str(), &actions_, &attributes_, argv.data(), environ);
    if (rc != 0) {
      setError(err, SystemError{"posix_spawn " + program, rc}.text());
      return -1;
    }
    return pid;
  }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

int waitForChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// Reads the child's output until it closes it, at most `maxBytes`, before `deadline`.
bool readOutput(int descriptor, std::size_t maxBytes, SteadyClock::time_point deadline,
                std::string* output, std::string* err) {
  char buffer[4096];
  for (;;) {
    const int ready = pollUntil(descriptor, POLLIN, deadline);
    if (ready < 0) {
      return failWithErrno("poll", err);
    }
    if (ready == 0) {
      return fail(err, "the program did not end in time");
    }
    const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return failWithErrno("read", err);
    }
    if (got == 0) {
      return true;
    }
    if (output->size() + static_cast<std::size_t>(got) > maxBytes) {
      return fail(err, "the program printed more than " + std::to_string(maxBytes) + " bytes");
    }
    output->append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::string findProgram(const std::string& name, const std::string& ownFolder) {
  if (name.find('/') != std::string::npos) {
    return isExecutableFile(name) ? name : std::string();
  }
  if (!ownFolder.empty() && isExecutableFile(ownFolder + name)) {
    return ownFolder + name;
  }
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) {
      end = folders.size();
    }
    const std::string folder = folders.substr(start, end - start);
    // An empty or relative entry stands for (a folder below) the current directory: skipped.
    if (folder.starts_with('/') && isExecutableFile(folder + "/" + name)) {
      return folder + "/" + name;
    }
    start = end + 1;
  }
  return {};
}

std::optional<int> runAndWait(const std::string& program, const std::vector<std::string>& args,
                              const std::string& workingDirectory, std::string* err) {
  SpawnSetup setup;
  setup.changeDirectory(workingDirectory);
  const pid_t pid = setup.spawn(program, args, err);
  if (pid < 0) {
    return std::nullopt;
  }
  return waitForChild(pid);
}

std::optional<CapturedRun> runCapturing(const std::string& program,
                                        const std::vector<std::string>& args,
                                        std::size_t maxOutputBytes, std::chrono::milliseconds limit,
                                        std::string* err) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    failWithErrno("pipe2", err);
    return std::nullopt;
  }
  SpawnSetup setup;
  setup.sendOutputTo(ends[1]);
  const pid_t pid = setup.spawn(program, args, err);
  ::close(ends[1]);
  if (pid < 0) {
    ::close(ends[0]);
    return std::nullopt;
  }
  CapturedRun run;
  const bool read = readOutput(ends[0], maxOutputBytes, deadlineAfter(limit), &run.output, err);
  ::close(ends[0]);
  if (!read) {
    ::kill(pid, SIGKILL);
    waitForChild(pid);
    return std::nullopt;
  }
  run.status = waitForChild(pid);
  return run;
}

bool startProgram(const std::string& program, const std::vector<std::string>& args,
                  std::string* err) {
  SpawnSetup setup;
  return setup.spawn(program, args, err) >= 0;
}

}  // namespace korvane::platform
