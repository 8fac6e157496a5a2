#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "common/TimedMutex.h"
#include "hub/LogFile.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// The hub's daily log: one file "<directory>/<prefix>_yyyymmdd.log" per local calendar day, one
/// line per event with a one-second time stamp, and old days' files deleted after a configured
/// number of months and days. Safe to use from many threads.
class DailyLog {
 public:
  /// How long a writer waits for another thread's line before it drops its own.
  static constexpr std::chrono::seconds kLockWait{1};

  /// Makes the log for `directory` (one trailing '/' is dropped) and the file-name `prefix`;
  /// it starts disabled and opens nothing before the first line. The directory must exist.
  DailyLog(std::string directory, std::string prefix, const platform::Clock& clock);
  DailyLog(const DailyLog&) = delete;
  DailyLog& operator=(const DailyLog&) = delete;

  /// Switches writing on or off; a disabled log ignores every line.
  void setEnabled(bool enabled);

  /// Keeps daily files for `months` months and `days` days; a negative count is taken as 0, and
  /// 0 months with 0 days keeps every file.
  void setRetention(int months, int days);

  /// Writes the time-stamped line to today's file, opening it (and deleting old files) when the
  /// date changed. False when the line is lost (disabled, the lock stayed taken for a second,
  /// or the file could not be opened or written); the next line tries again.
  bool writeLine(std::string_view text);

  /// Deletes this prefix's daily files whose date is not after the retention limit; files that
  /// cannot be deleted stay and nothing is reported.
  void collectGarbage();

  /// Closes the open file, waiting up to a second for a line being written.
  void close();

  /// The last date "yyyymmdd" (as a number) whose files are deleted on `today`: today stepped
  /// back `days` days, then `months` months keeping the day, which is then cut to the month's
  /// length. Dates before year 1 come out negative.
  static std::int64_t garbageLimit(const platform::LocalTime& today, int months, int days);

 private:
  std::string filePath(const std::string& date) const;
  void collectGarbageLocked(const platform::LocalTime& today);
  bool isDailyFileName(std::string_view name) const;

  std::string directory_;
  std::string prefix_;
  const platform::Clock& clock_;
  common::TimedMutex mutex_;
  LogFile file_;
  std::string date_;
  std::atomic<bool> enabled_{false};
  std::atomic<int> garbageMonths_{0};
  std::atomic<int> garbageDays_{0};
};

}  // namespace korvane::hub
