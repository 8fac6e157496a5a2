#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace korvane::tools {

/// Hubs that kvbench starts for itself: the kvhub beside kvbench, run as hubs 0001, 0002, ...
/// in one temporary program directory of their own (KORVANE_PROGRAM_DIR), each on a free port,
/// with AuthFlag 0 and 512 port slots. The processes are killed and the directory removed when
/// the object goes.
class BenchHub {
 public:
  /// Starts `hubs` hubs and waits until each accepts connections; empty with a message in
  /// `err`.
  static std::unique_ptr<BenchHub> start(std::string* err, int hubs = 1);

  ~BenchHub();
  BenchHub(const BenchHub&) = delete;
  BenchHub& operator=(const BenchHub&) = delete;

  /// The first hub's port and process.
  int port() const { return ports_.front(); }
  int processId() const { return processes_.front().id(); }
  /// Every hub's port and process id, in hub number order.
  const std::vector<int>& ports() const { return ports_; }
  std::vector<int> processIds() const;
  /// The hub's log folder, for a look after a failure.
  std::string logFolder() const { return directory_ + "log/"; }

 private:
  struct Key {};  // only start() makes hubs

 public:
  explicit BenchHub(Key) {}

 private:
  std::string directory_;
  std::vector<int> ports_;
  std::vector<platform::Process> processes_;
};

}  // namespace korvane::tools
