#include "tools/kvbench/BenchHub.h"

#include <algorithm>
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

/// "0001" for hub 1: how hubs are named on the command line and in the manager's file.
std::string hubNumberText(int hub) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", hub);
  return text;
}

std::string managerConfig(const std::vector<int>& ports) {
  // The hubs' own settings, in the manager file's format (CR LF lines).
  std::string text = "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n";
  for (std::size_t i = 0; i < ports.size(); ++i) {
    text += "[" + hubNumberText(static_cast<int>(i) + 1) + "]\r\nHubName=kvbench\r\n" +
            "Status=ON\r\nPortNo=" + std::to_string(ports[i]) + "\r\nAuthFlag=0\r\nMaxCon=512\r\n";
  }
  return text;
}

/// Waits until the hub `process` accepts connections on `port`; false with a message in `err`.
bool waitUntilListening(platform::Process& process, int port, std::string* err) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process.isRunning()) {
      *err = "kvhub ended at start";
      return false;
    }
    std::string connectErr;
    if (platform::TcpConnection::connect("127.0.0.1", port, &connectErr)) {
      return true;
    }
    std::this_thread::sleep_for(kStartPoll);
  }
  *err = "kvhub does not listen on port " + std::to_string(port) + " after 10 s";
  return false;
}

}  // namespace

std::unique_ptr<BenchHub> BenchHub::start(std::string* err, int hubs) {
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
  // Ports are taken while none of the hubs listens yet, so two picks may meet: distinct ones.
  for (int i = 0; i < hubs; ++i) {
    const int port = freePort();
    if (port == 0 || std::find(hub->ports_.begin(), hub->ports_.end(), port) != hub->ports_.end()) {
      *err = "no free TCP port";
      return nullptr;
    }
    hub->ports_.push_back(port);
  }
  if (!platform::replaceWholeFile(hub->directory_ + "ini/Tollmar.ini", managerConfig(hub->ports_),
                                  err)) {
    return nullptr;
  }
  for (int i = 0; i < hubs; ++i) {
    // The hub finds its folder through the variable, which it inherits.
    const ProgramDirectoryOverride hubFolder(hub->directory_);
    auto process = platform::Process::spawn(program, {hubNumberText(i + 1)}, err);
    if (!process) {
      return nullptr;
    }
    hub->processes_.push_back(std::move(*process));
  }
  for (std::size_t i = 0; i < hub->ports_.size(); ++i) {
    if (!waitUntilListening(hub->processes_[i], hub->ports_[i], err)) {
      *err += "; see " + hub->logFolder();
      return nullptr;
    }
  }
  return hub;
}

std::vector<int> BenchHub::processIds() const {
  std::vector<int> ids;
  for (const auto& process : processes_) {
    ids.push_back(process.id());
  }
  return ids;
}

BenchHub::~BenchHub() {
  for (auto& process : processes_) {
    process.kill();
  }
  for (auto& process : processes_) {
    process.waitForExit();
  }
  if (!directory_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
  }
}

}  // namespace korvane::tools
