#include "tests/support/RunProgram.h"

#include <filesystem>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::testing {

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& programDir, std::chrono::milliseconds limit) {
  return runProgram(program, args, programDir, ProgramInput{}, limit);
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& programDir, const ProgramInput& input,
                         std::chrono::milliseconds limit) {
  TempProgramDir scratch;
  const std::string outFile = scratch.path() + "out";
  const std::string errFile = scratch.path() + "err";
  ChildProcess::Options options;
  options.outputFile = outFile;
  options.errorFile = errFile;
  options.environment = input.environment;
  ChildProcess child(program, args, programDir, options,
                     input.inputFile.empty() ? "/dev/null" : input.inputFile);
  ProgramResult result;
  const auto status = child.waitForExit(limit);
  result.status = status.value_or(-1);
  result.out = readFile(outFile);
  result.err = readFile(errFile);
  return result;
}

}  // namespace korvane::testing
