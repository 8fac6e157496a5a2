#include "platform/MachineWidth.h"

#include <sys/utsname.h>

#include <string_view>

namespace korvane::platform {
namespace {

// The architectures that `uname -m` names for 64-bit kernels.
constexpr std::string_view kWideMachines[] = {"x86_64",  "aarch64",     "arm64",   "ppc64",
                                              "ppc64le", "s390x",       "riscv64", "mips64",
                                              "sparc64", "loongarch64", "alpha",   "ia64"};

int askKernel() {
  utsname name{};
  if (::uname(&name) != 0) {
    return 32;
  }
  for (std::string_view wide : kWideMachines) {
    if (wide == name.machine) {
      return 64;
    }
  }
  return 32;
}

}  // namespace

int machineWordBits() {
  static const int bits = askKernel();
  return bits;
}

}  // namespace korvane::platform
