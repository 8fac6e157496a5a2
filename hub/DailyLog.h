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
/// number of months and days. A day's file stops growing at a byte cap. Safe to use from many
/// threads.
class DailyLog {
 public:
  /// How long a writer waits for another thread's line before it drops its own.
  static constexpr std::chrono::seconds kLockWait{1};

  /// The bytes after which a day's file takes no more lines: the line that reaches it is followed
  /// by kDayFullLine, and that day's later lines are left out. Anyone who can reach the hub's port
  /// makes it log "+ CONNECTED" and "- DISCONNECTED" without logging in, so without a cap a peer
  /// connecting in a loop could fill the disk that every other program on the machine needs. A
  /// normal day stays far below it: a line is about 100 bytes, so 256 MiB are some 2.7 million
  /// lines, 31 a second around the clock. A day's file then holds at most this plus two lines,
  /// per hub and per day kept.
  static constexpr std::uint64_t kMaxDayBytes = 256ull * 1024 * 1024;

  /// The last line of a day's file that reached kMaxDayBytes.
  static constexpr std::string_view kDayFullLine =
      "daily log full: further lines of this day left out";

  /// Makes the log for `directory` (one trailing '/' is dropped) and the file-name `prefix`;
  /// it starts disabled and opens nothing before the first line. The directory must exist.
  /// `maxDayBytes` is the cap of a day's file (smaller in tests).
  DailyLog(std::string directory, std::string prefix, const platform::Clock& clock,
           std::uint64_t maxDayBytes = kMaxDayBytes);
  DailyLog(const DailyLog&) = delete;
  DailyLog& operator=(const DailyLog&) = delete;

  /// Switches writing on or off; a disabled log ignores every line.
  void setEnabled(bool enabled);

  /// Keeps daily files for `months` months and `days` days; a negative count is taken as 0, and
  /// 0 months with 0 days keeps every file.
  void setRetention(int months, int days);

  /// Writes the time-stamped line to today's file, opening it (and deleting old files) when the
  /// date changed. False when the line is lost (disabled, the lock stayed taken for a second,
  /// the file could not be opened or written, or today's file is full); the next line tries
  /// again.
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
  bool openDayFile(const std::string& date);
  bool appendCapped(const std::string& line, const platform::LocalTime& now);
  void collectGarbageLocked(const platform::LocalTime& today);
  bool isDailyFileName(std::string_view name) const;

  std::string directory_;
  std::string prefix_;
  const platform::Clock& clock_;
  common::TimedMutex mutex_;
  LogFile file_;
  std::string date_;
  const std::uint64_t maxDayBytes_;
  /// Bytes in the open file: its size when opened plus every line written since, so that the cap
  /// costs no query of the file per line.
  std::uint64_t dayBytes_ = 0;
  /// The open file has reached the cap and ends with kDayFullLine (or lost it to a failed write).
  bool dayFull_ = false;
  std::atomic<bool> enabled_{false};
  std::atomic<int> garbageMonths_{0};
  std::atomic<int> garbageDays_{0};
};

}  // namespace korvane::hub
