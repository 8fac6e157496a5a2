#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

/// Running other programs to their end (or not waiting for them at all), for the programs that
/// drive outside tools: the updater runs the package database's tools and the client's
/// configuration tool, its launcher starts the updater.
namespace korvane::platform {

/// What a program that ran to its end printed on standard output and returned.
struct CapturedRun {
  int status = -1;     ///< exit status 0..255, or -(signal number) when a signal ended it
  std::string output;  ///< its standard output
};

/// The path of a program named without a directory: in `ownFolder` (the caller's own program
/// folder, ending in '/') first, then along the absolute folders of PATH; a name with a '/' is
/// taken as it is. Never the current directory, nor a relative PATH entry: the updater runs as
/// root, and a folder that another user can write to (where it may be started from) must not
/// choose what it runs. Empty when no executable file of that name is found.
std::string findProgram(const std::string& name, const std::string& ownFolder);

/// Runs `program` (a path, or a bare name looked up along PATH) with `args` in
/// `workingDirectory` (the caller's own when empty) and waits for its end without limit. Its exit
/// status (0..255, or -(signal number)), or empty with "posix_spawn PROGRAM: reason" in `err`
/// when it cannot be started.
[[nodiscard]] std::optional<int> runAndWait(const std::string& program,
                                            const std::vector<std::string>& args,
                                            const std::string& workingDirectory, std::string* err);

/// Runs `program` like runAndWait with its standard output captured. Empty with a message in
/// `err` when it cannot be started, prints more than `maxOutputBytes` or has not ended within
/// `limit`; it is killed then.
[[nodiscard]] std::optional<CapturedRun> runCapturing(const std::string& program,
                                                      const std::vector<std::string>& args,
                                                      std::size_t maxOutputBytes,
                                                      std::chrono::milliseconds limit,
                                                      std::string* err);

/// Starts `program` with `args` and lets it run on without waiting for it; for a program that
/// ends right after (its child is then adopted by the system). False with a message in `err`
/// when it cannot be started.
[[nodiscard]] bool startProgram(const std::string& program, const std::vector<std::string>& args,
                                std::string* err);

}  // namespace korvane::platform
