#pragma once

#include <string>
#include <string_view>

#include "hub/DailyLog.h"
#include "hub/RotatingLog.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// Both logs of one hub: every line goes to the rotating log "nnnn_1.log"/"nnnn_2.log" and then
/// to the daily log "nnnn_yyyymmdd.log", nnnn being the hub number. Safe to use from many threads.
class HubLog {
 public:
  /// Makes the logs of hub `hubNumber` (1 to 9999) in `logDirectory` (the program directory
  /// followed by "log/", which must exist; a missing final '/' is added); nothing is opened and the
  /// daily log stays disabled until startUp().
  HubLog(const std::string& logDirectory, int hubNumber, const platform::Clock& clock);

  /// Enables the daily log, keeps its files `garbageMonths` months and `garbageDays` days
  /// (negative counts are 0; 0 and 0 keep everything) and deletes the files already too old.
  void startUp(int garbageMonths, int garbageDays);

  /// Writes one line to the rotating log, then to the daily log. A log that cannot write loses
  /// the line silently and tries again with the next one.
  void write(std::string_view text);

  /// Closes both logs' files at shut-down.
  void close();

 private:
  RotatingLog rotating_;
  DailyLog daily_;
};

}  // namespace korvane::hub
