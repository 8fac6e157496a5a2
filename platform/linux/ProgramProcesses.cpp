#include "platform/ProgramProcesses.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace korvane::platform {
namespace {

// The kernel marks the program file of a process whose file was deleted (an uninstall removes
// it while it runs) by this suffix after its path.
constexpr std::string_view kDeletedSuffix = " (deleted)";

// The longest program path read from /proc/PID/exe; a longer one cannot equal a path we built.
constexpr std::size_t kMaxProgramPathBytes = 4096;

bool runsProgram(const std::string& pid, const std::string& programPath) {
  char target[kMaxProgramPathBytes + kDeletedSuffix.size() + 1];
  const std::string link = "/proc/" + pid + "/exe";
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
    return false;
  }
  const std::string_view running(target, static_cast<std::size_t>(length));
  if (running == programPath) {
    return true;
  }
  return running.size() == programPath.size() + kDeletedSuffix.size() &&
         running.substr(0, programPath.size()) == programPath &&
         running.substr(programPath.size()) == kDeletedSuffix;
}

bool isProcessId(const char* name) {
  if (*name == '\0') {
    return false;
  }
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') {
      return false;
    }
  }
  return true;
}

}  // namespace

int endProcessesRunning(const std::string& programPath) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
  if (!proc) {
    return 0;
  }
  const std::string self = std::to_string(::getpid());
  int ended = 0;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!isProcessId(entry->d_name) || entry->d_name == self ||
        !runsProgram(entry->d_name, programPath)) {
      continue;
    }
    if (::kill(static_cast<pid_t>(std::atoi(entry->d_name)), SIGKILL) == 0) {
      ++ended;
    }
  }
  return ended;
}

}  // namespace korvane::platform
