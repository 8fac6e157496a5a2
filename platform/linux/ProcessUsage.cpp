#include "platform/ProcessUsage.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace korvane::platform {
namespace {

// Fields of /proc/PID/stat after the command name in parentheses: utime and stime are fields 14
// and 15 of the line, so the 12th and 13th after the closing parenthesis.
constexpr int kUserTimeField = 12;

std::optional<std::uint64_t> residentBytesOf(int processId) {
  std::ifstream status("/proc/" + std::to_string(processId) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      std::uint64_t kilobytes = 0;
      if (fields >> kilobytes) {
        return kilobytes * 1024;
      }
      return std::nullopt;
    }
  }
  return std::nullopt;  // no such process, or a kernel thread without memory
}

std::optional<std::chrono::microseconds> cpuTimeOf(int processId) {
  std::ifstream statFile("/proc/" + std::to_string(processId) + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) {
    return std::nullopt;
  }
  // The command name may hold blanks and parentheses; it ends at the last ')'.
  const auto nameEnd = line.rfind(')');
  if (nameEnd == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(line.substr(nameEnd + 1));
  std::string skipped;
  for (int i = 1; i < kUserTimeField; ++i) {
    fields >> skipped;
  }
  std::uint64_t userTicks = 0;
  std::uint64_t systemTicks = 0;
  if (!(fields >> userTicks >> systemTicks)) {
    return std::nullopt;
  }
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  if (ticksPerSecond <= 0) {
    return std::nullopt;
  }
  return std::chrono::microseconds((userTicks + systemTicks) * 1'000'000 /
                                   static_cast<std::uint64_t>(ticksPerSecond));
}

}  // namespace

std::optional<ProcessUsage> readProcessUsage(int processId) {
  const auto resident = residentBytesOf(processId);
  const auto cpu = cpuTimeOf(processId);
  if (!resident || !cpu) {
    return std::nullopt;
  }
  return ProcessUsage{*resident, *cpu};
}

}  // namespace korvane::platform
