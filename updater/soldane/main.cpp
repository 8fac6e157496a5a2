// Soldane: starts the package rewriter built for this machine's word size (Vintrell64 on a
// 64-bit kernel, Vintrell32 otherwise), found by its bare name in the current directory or along
// PATH, with Soldane's own arguments; it does not wait for it and always exits with 0.

#include <string>
#include <vector>

#include "platform/MachineWidth.h"
#include "platform/ProgramRun.h"

int main(int argc, char** argv) {
  using namespace korvane;
  const char* rewriter = platform::machineWordBits() == 64 ? "Vintrell64" : "Vintrell32";
  const std::string program = platform::findProgram(rewriter);
  if (!program.empty()) {
    (void)platform::startProgram(program, std::vector<std::string>(argv + 1, argv + argc), nullptr);
  }
  return 0;
}
