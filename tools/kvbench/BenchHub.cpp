#include "tools/kvbench/BenchHub.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/ProgramDirectory.h"
#include "platform/Random.h"
#include "platform/TcpConnection.h"
#include "platform/TcpListener.h"
#include "platform/WholeFile.h"

namespace korvane::tools {
namespace {

// A hub writes its port slots and MAC table once at start; it listens within a few hundred
// milliseconds. This bounds the wait for a hub that fails to start.
constexpr std::chrono::milliseconds kStartLimit{10000};
constexpr std::chrono::milliseconds kStartPoll{20};

/// Sets KORVANE_PROGRAM_DIR (unsets it for an empty value) for as long as it lives.
class ProgramDirectoryOverride {
 public:
  explicit ProgramDirectoryOverride(const std::string& value) {
    if (const char* previous = std::getenv(platform::kProgramDirectoryVariable)) {
      previous_ = previous;
    }
    set(value.empty() ? std::nullopt : std::optional<std::string>(value));
  }
  ~ProgramDirectoryOverride() { set(previous_); }
  ProgramDirectoryOverride(const ProgramDirectoryOverride&) = delete;
  ProgramDirectoryOverride& operator=(const ProgramDirectoryOverride&) = delete;

 private:
  static void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(platform::kProgramDirectoryVariable, value->c_str(), 1);
    } else {
      ::unsetenv(platform::kProgramDirectoryVariable);
    }
  }

  std::optional<std::string> previous_;
};

/// The folder kvbench itself runs from (not a KORVANE_PROGRAM_DIR of the caller's).
std::string ownFolder() {
  const ProgramDirectoryOverride none("");
  return platform::programDirectory();
}

/// A new, empty program directory under the system's temporary folder, ending in '/'.
std::string makeProgramDirectory(std::string* err) {
  std::array<std::uint8_t, 8> random{};
  if (!platform::fillRandom(random)) {
    *err = "no random source for a temporary folder name";
    return {};
  }
  std::string name = "kvbench-";
  for (const auto byte : random) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    name += digits;
  }
  std::error_code ec;
  const auto folder = std::filesystem::temp_directory_path(ec) / name;
  if (ec || !std::filesystem::create_directories(folder / "ini", ec) ||
      !std::filesystem::create_directories(folder / "log", ec)) {
    *err = "cannot make " + folder.string() + ": " + ec.message();
    return {};
  }
  return folder.string() + "/";
}

/// A port that nothing listens on now (the kernel's pick); 0 when none can be had.
int freePort() {
  platform::TcpListener probe;
  platform::ListenFailure failure;
  if (!probe.listenOnIpv4(0, &failure)) {
    return 0;
  }
  const int port = probe.localPort();
  probe.close();
  return port;
}

std::string managerConfig(int port) {
  // The hub's own settings, in the manager file's format (CR LF lines).
  return "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n[0001]\r\nHubName=kvbench\r\nStatus=ON\r\n"
         "PortNo=" +
         std::to_string(port) + "\r\nAuthFlag=0\r\nMaxCon=512\r\n";
}

}  // namespace

std::unique_ptr<BenchHub> BenchHub::start(std::string* err) {
  const std::string program = ownFolder() + "kvhub";
  if (!std::filesystem::exists(program)) {
    *err = program + " does not exist";
    return nullptr;
  }
  auto hub = std::make_unique<BenchHub>(Key{});
  hub->directory_ = makeProgramDirectory(err);
  if (hub->directory_.empty()) {
    return nullptr;
  }
  hub->port_ = freePort();
  if (hub->port_ == 0) {
    *err = "no free TCP port";
    return nullptr;
  }
  if (!platform::replaceWholeFile(hub->directory_ + "ini/Tollmar.ini", managerConfig(hub->port_),
                                  err)) {
    return nullptr;
  }
  {
    // The hub finds its folder through the variable, which it inherits.
    const ProgramDirectoryOverride hubFolder(hub->directory_);
    hub->process_ = platform::Process::spawn(program, {"0001"}, err);
  }
  if (!hub->process_) {
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!hub->process_->isRunning()) {
      *err = "kvhub ended at start; see " + hub->logFolder();
      return nullptr;
    }
    std::string connectErr;
    if (platform::TcpConnection::connect("127.0.0.1", hub->port_, &connectErr)) {
      return hub;
    }
    std::this_thread::sleep_for(kStartPoll);
  }
  *err = "kvhub does not listen on port " + std::to_string(hub->port_) + " after 10 s";
  return nullptr;
}

BenchHub::~BenchHub() {
  if (process_) {
    process_->kill();
    process_->waitForExit();
  }
  if (!directory_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
  }
}

}  // namespace korvane::tools
