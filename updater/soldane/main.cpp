// Soldane: starts the package rewriter built for this machine's word size (Vintrell64 on a
// 64-bit kernel, Vintrell32 otherwise), found by its bare name in Soldane's own folder or along
// PATH, with Soldane's own arguments; it does not wait for it and always exits with 0.

#include <string>
#include <vector>

#include "platform/MachineWidth.h"
#include "platform/ProgramDirectory.h"
#include "platform/ProgramRun.h"

namespace {

// The folder of Soldane's own file, ending in '/'; empty when it cannot be found.
std::string ownFolder() {
  const std::string self = korvane::platform::executablePath();
  const auto slash = self.rfind('/');
  return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvane;
  const char* rewriter = platform::machineWordBits() == 64 ? "Vintrell64" : "Vintrell32";
  const std::string program = platform::findProgram(rewriter, ownFolder());
  if (!program.empty()) {
    (void)platform::startProgram(program, std::vector<std::string>(argv + 1, argv + argc), nullptr);
  }
  return 0;
}
