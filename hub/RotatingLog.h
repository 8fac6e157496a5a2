#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "common/TimedMutex.h"
#include "hub/LogFile.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// The hub's rotating log: two files "<base>_1.log" and "<base>_2.log" of at most 1,000,000 bytes,
/// written alternately, one line per event with a millisecond time stamp. Safe to use from many
/// threads; the control panel's status window reads the files while the hub writes them.
class RotatingLog {
 public:
  /// The largest size of one file the hub writes: two such files bound the log at 2 MB on disk
  /// while the newer one always holds the recent lines that the status window follows.
  static constexpr std::uint64_t kMaxFileSize = 1'000'000;
  /// The number of files written in turn.
  static constexpr int kFileCount = 2;
  /// How long a writer waits for another thread's line before it drops its own.
  static constexpr std::chrono::seconds kLockWait{1};
  /// "yyyy/mm/dd hh:mm:ss.mmm " before the text and CR LF after it.
  static constexpr std::size_t kLineOverhead = 26;

  /// Makes the log for the files "<basePath>_1.log" and "<basePath>_2.log" of at most
  /// `maxFileSize` bytes each; opens nothing yet. The folder of `basePath` must exist: the log
  /// never creates it.
  RotatingLog(std::string basePath, const platform::Clock& clock,
              std::uint64_t maxFileSize = kMaxFileSize);
  RotatingLog(const RotatingLog&) = delete;
  RotatingLog& operator=(const RotatingLog&) = delete;

  /// Writes the time-stamped line; false when it is lost (the lock stayed taken for a second,
  /// or no file could be opened or written), in which case the next line tries again.
  bool writeLine(std::string_view text);

  /// Closes the open file, waiting up to a second for a line being written; a later line opens
  /// a file again.
  void close();

  /// The path of file `number` (1 or 2).
  std::string filePath(int number) const;

 private:
  bool openLatestFile();
  bool switchFile();
  std::string formatLine(std::string_view text) const;

  std::string basePath_;
  const platform::Clock& clock_;
  std::uint64_t maxFileSize_;
  common::TimedMutex mutex_;
  int fileNumber_ = 1;
  LogFile file_;
};

}  // namespace korvane::hub
