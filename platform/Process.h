#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::platform {

/// A child process that we started. Waiting and killing go through a process handle that cannot
/// be confused with a later process of the same number, so a kill after the process ended harms
/// nobody. One thread waits; any thread may kill.
class Process {
 public:
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  /// Starts `program` with `args` (argv[1..]); it inherits no descriptors but the standard ones.
  /// Empty with a message in `err` when it cannot be started.
  static std::optional<Process> spawn(const std::string& program,
                                      const std::vector<std::string>& args, std::string* err);

  int id() const { return id_; }

  /// Blocks until the process has ended and collects it; returns its exit status (0..255), or
  /// -(signal number) when a signal ended it. Called by one thread only.
  int waitForExit();

  /// True while the process has not ended (it may have ended without being collected yet).
  bool isRunning() const;

  /// Ends the process at once (SIGKILL). Does nothing when it has already ended.
  void kill();

 private:
  Process(int id, std::intptr_t handle) : id_(id), handle_(handle) {}

  int id_ = -1;
  std::intptr_t handle_ = -1;
};

/// The process id of the running program.
int currentProcessId();

}  // namespace korvane::platform
