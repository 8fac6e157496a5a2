#include "tests/support/NetworkNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

namespace korvane::testing {
namespace {

// Set-up commands (ip, sysctl) finish in milliseconds; this only bounds a hung one.
constexpr std::chrono::milliseconds kSetupLimit{10000};

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) {
    text += (text.empty() ? "" : " ") + word;
  }
  return text;
}

/// A name no other namespace of this machine has: the process id keeps parallel test programs
/// apart, the counter the namespaces of one program, the random part leftovers of earlier runs.
std::string uniqueName(const std::string& role) {
  static std::atomic<int> counter{0};
  static const unsigned salt = std::random_device{}() & 0xFFFF;
  char text[64];
  std::snprintf(text, sizeof text, "kvt%d-%04x-%d-", static_cast<int>(::getpid()), salt, ++counter);
  return text + role;
}

ProgramResult runIp(const std::vector<std::string>& args) {
  return runProgram(ipProgram(), args, "/tmp/", kSetupLimit);
}

bool ipOk(const std::vector<std::string>& args, std::string* err) {
  const ProgramResult result = runIp(args);
  if (result.status == 0) {
    return true;
  }
  *err = "ip " + joined(args) + " failed (" + std::to_string(result.status) + "): " + result.err +
         result.out;
  return false;
}

}  // namespace

std::string ipProgram() {
  for (const char* candidate : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (std::filesystem::exists(candidate)) {
      return candidate;
    }
  }
  return "/usr/sbin/ip";
}

std::string networkNamespaceSkipReason() {
  if (::geteuid() != 0) {
    return "network namespace tests need root";
  }
  if (!std::filesystem::exists(ipProgram())) {
    return "ip(8) is not installed (package iproute2)";
  }
  std::string err;
  auto probe = NetworkNamespace::create("probe", &err);
  if (!probe) {
    return "cannot make a network namespace: " + err;
  }
  return "";
}

std::unique_ptr<NetworkNamespace> NetworkNamespace::create(const std::string& role,
                                                           std::string* err) {
  const std::string name = uniqueName(role);
  if (!ipOk({"netns", "add", name}, err)) {
    return nullptr;
  }
  auto created = std::make_unique<NetworkNamespace>(Key{}, name);
  // IPv6 off before any interface comes in, so that no interface sends router solicitations or
  // other traffic of its own; only the test's IPv4 links exist.
  if (!created->runOk({"sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=1",
                       "net.ipv6.conf.default.disable_ipv6=1"},
                      err) ||
      !ipOk({"-n", name, "link", "set", "lo", "up"}, err)) {
    return nullptr;
  }
  return created;
}

NetworkNamespace::~NetworkNamespace() {
  // Processes the test left inside (a DHCP client, a program whose object outlived the test)
  // would keep the namespace's interfaces alive after the delete.
  const ProgramResult pids = runIp({"netns", "pids", name_});
  std::istringstream list(pids.out);
  int pid = 0;
  while (list >> pid) {
    if (pid > 1 && pid != ::getpid()) {
      ::kill(pid, SIGKILL);
    }
  }
  (void)runIp({"netns", "del", name_});
}

ProgramResult NetworkNamespace::run(const std::vector<std::string>& command,
                                    std::chrono::milliseconds limit) const {
  std::vector<std::string> args = {"netns", "exec", name_};
  args.insert(args.end(), command.begin(), command.end());
  return runProgram(ipProgram(), args, "/tmp/", limit);
}

bool NetworkNamespace::runOk(const std::vector<std::string>& command, std::string* err,
                             std::chrono::milliseconds limit) const {
  const ProgramResult result = run(command, limit);
  if (result.status == 0) {
    return true;
  }
  *err = "in " + name_ + ": " + joined(command) + " failed (" + std::to_string(result.status) +
         "): " + result.err + result.out;
  return false;
}

std::unique_ptr<ChildProcess> NetworkNamespace::start(const std::string& program,
                                                      const std::vector<std::string>& args,
                                                      const std::string& programDir,
                                                      const ChildProcess::Options& options) const {
  std::vector<std::string> all = {"netns", "exec", name_, program};
  all.insert(all.end(), args.begin(), args.end());
  // ip(8) enters the namespace and executes the program in its own process, so the child's
  // process id is the program's.
  return std::make_unique<ChildProcess>(ipProgram(), all, programDir, options);
}

bool NetworkNamespace::enterOnThisThread(std::string* err) const {
  // ip(8) keeps a handle of every named namespace here.
  const std::string path = "/run/netns/" + name_;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *err = "open " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
  if (!entered) {
    *err = "setns " + path + ": " + std::strerror(errno);
  }
  ::close(fd);
  return entered;
}

bool NetworkNamespace::linkTo(const NetworkNamespace& other, const std::string& localName,
                              const std::string& localAddress, const std::string& otherName,
                              const std::string& otherAddress, std::string* err) const {
  return ipOk({"-n", name_, "link", "add", localName, "type", "veth", "peer", "name", otherName,
               "netns", other.name_},
              err) &&
         ipOk({"-n", name_, "addr", "add", localAddress, "dev", localName}, err) &&
         ipOk({"-n", other.name_, "addr", "add", otherAddress, "dev", otherName}, err) &&
         ipOk({"-n", name_, "link", "set", localName, "up"}, err) &&
         ipOk({"-n", other.name_, "link", "set", otherName, "up"}, err);
}

}  // namespace korvane::testing
