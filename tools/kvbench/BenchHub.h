#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Process.h"

namespace korvane::tools {

/// A kvhub that kvbench starts for itself: the kvhub beside kvbench, run as hub 0001 in a
/// temporary program directory of its own (KORVANE_PROGRAM_DIR) on a free port, with AuthFlag 0
/// and 512 port slots. The process is killed and the directory removed when the object goes.
class BenchHub {
 public:
  /// Starts the hub and waits until it accepts connections; empty with a message in `err`.
  static std::unique_ptr<BenchHub> start(std::string* err);

  ~BenchHub();
  BenchHub(const BenchHub&) = delete;
  BenchHub& operator=(const BenchHub&) = delete;

  int port() const { return port_; }
  int processId() const { return process_->id(); }
  /// The hub's log folder, for a look after a failure.
  std::string logFolder() const { return directory_ + "log/"; }

 private:
  struct Key {};  // only start() makes hubs

 public:
  explicit BenchHub(Key) {}

 private:
  std::string directory_;
  int port_ = 0;
  std::optional<platform::Process> process_;
};

}  // namespace korvane::tools
