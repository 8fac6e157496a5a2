#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace korvane::testing {

/// What a program that ran to its end printed and returned.
struct ProgramResult {
  int status = -1;  ///< exit status, or -1 when it did not end in time (it is killed then)
  std::string out;
  std::string err;
};

/// What a program run by a test reads besides its arguments.
struct ProgramInput {
  std::string inputFile;                 ///< its standard input; empty for none
  std::vector<std::string> environment;  ///< extra NAME=VALUE entries
};

/// Runs `program` with `args` in program directory `programDir` until it ends (at most `limit`),
/// with standard input empty, and returns its output streams separately.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& programDir,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

/// Runs `program` as above with standard input and environment from `input`.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& programDir, const ProgramInput& input,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace korvane::testing
