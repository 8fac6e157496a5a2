#pragma once

#include <chrono>
#include <optional>
#include <thread>
#include <string>
#include <vector>

namespace korvane::testing {

/// A program started by a test, with its own program directory. The process is killed and
/// reaped when the object goes, so no test leaves a process behind.
class ChildProcess {
 public:
  /// Where and how a child runs besides its program directory.
  struct Options {
    std::string outputFile;        ///< standard output (and error) go here when not empty
    std::string workingDirectory;  ///< the child's current directory; the program dir when empty
    std::vector<std::string> environment;  ///< extra NAME=VALUE entries
    std::string errorFile;  ///< standard error goes here instead of outputFile, when not empty
  };

  /// Starts `program` (a path) with `args`, KORVANE_PROGRAM_DIR set to `programDir`, standard
  /// output and error sent to `outputFile` when it is not empty.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& programDir, const std::string& outputFile = "");
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& programDir, const Options& options);
  /// As above, with standard input read from `inputFile` instead of /dev/null.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& programDir, const Options& options,
               const std::string& inputFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  int pid() const { return pid_; }

  /// The exit status (0..255), or -(signal number) for a process ended by a signal; empty when
  /// it is still running after `limit`.
  std::optional<int> waitForExit(std::chrono::milliseconds limit);

  void kill();

 private:
  int pid_ = -1;
  std::optional<int> status_;
};

/// Path of a program built by this project (kvhub, kvctl, ...).
std::string builtProgram(const std::string& name);

/// Polls `condition` every 10 ms until it holds or `limit` passes; returns its last value.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) {
      return condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace korvane::testing
