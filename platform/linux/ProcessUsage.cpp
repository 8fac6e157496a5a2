#include "platform/ProcessUsage.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace korvane::platform {
namespace {

// Fields of /proc/PID/stat after the command name in parentheses: utime and stime are fields 14
// and 15 of the line, so the 12th and 13th after the closing parenthesis.
constexpr int kUserTimeField = 12;

/// The number after `field` (e.g. "VmRSS:") in /proc/PID/status; none when it is missing.
std::optional<std::uint64_t> statusField(int processId, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(processId) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      std::istringstream fields(line.substr(field.size()));
      std::uint64_t value = 0;
      if (fields >> value) {
        return value;
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
  const auto residentKilobytes = statusField(processId, "VmRSS:");
  const auto threads = statusField(processId, "Threads:");
  const auto cpu = cpuTimeOf(processId);
  if (!residentKilobytes || !threads || !cpu) {
    return std::nullopt;
  }
  return ProcessUsage{*residentKilobytes * 1024, *cpu, static_cast<int>(*threads)};
}

std::uint64_t raiseOpenFileLimit(std::uint64_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 0;
  }
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      ::getrlimit(RLIMIT_NOFILE, &limit);
    }
  }
  return limit.rlim_cur;
}

}  // namespace korvane::platform
