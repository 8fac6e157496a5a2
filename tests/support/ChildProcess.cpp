#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace korvane::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& programDir, const std::string& outputFile)
    : ChildProcess(program, args, programDir, Options{outputFile, "", {}, ""}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& programDir, const Options& options)
    : ChildProcess(program, args, programDir, options, "/dev/null") {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& programDir, const Options& options,
                           const std::string& inputFile) {
  const std::string& outputFile = options.outputFile;
  std::vector<std::string> argStorage;
  argStorage.push_back(program);
  argStorage.insert(argStorage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argStorage) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  std::vector<std::string> envStorage;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "KORVANE_PROGRAM_DIR=", 20) != 0) {
      envStorage.emplace_back(*entry);
    }
  }
  envStorage.push_back("KORVANE_PROGRAM_DIR=" + programDir);
  envStorage.insert(envStorage.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp;
  for (auto& entry : envStorage) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!outputFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (options.errorFile.empty()) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
  }
  if (!options.errorFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, options.errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
  // A child writes files into its current directory (the manager's foreground log): keep them in
  // the test's own folder, never in the folder the test binary was started from.
  const std::string& directory =
      options.workingDirectory.empty() ? programDir : options.workingDirectory;
  if (!directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  kill();
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) {
    return status_;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int raw = 0;
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
      return status_;
    }
    if (done < 0 && errno != EINTR) {
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= end) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::kill() {
  if (pid_ <= 0 || status_) {
    return;
  }
  ::kill(pid_, SIGKILL);
  (void)waitForExit(std::chrono::seconds(10));
}

std::string builtProgram(const std::string& name) {
  return std::string(KORVANE_BINARY_DIR) + name;
}

}  // namespace korvane::testing
