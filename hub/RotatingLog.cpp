#include "hub/RotatingLog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace korvane::hub {
namespace {

/// Room for "%04d/%02d/%02d %02d:%02d:%02d.%03d " with seven integers of any value.
constexpr std::size_t kTimeStampCapacity = 96;

/// The last-write time of a regular file, or nullopt when there is none to read.
std::optional<std::filesystem::file_time_type> lastWriteTime(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return std::nullopt;
  }
  const auto time = std::filesystem::last_write_time(path, error);
  if (error) {
    return std::nullopt;
  }
  return time;
}

}  // namespace

RotatingLog::RotatingLog(std::string basePath, const platform::Clock& clock,
                         std::uint64_t maxFileSize)
    : basePath_(std::move(basePath)), clock_(clock), maxFileSize_(maxFileSize) {}

std::string RotatingLog::filePath(int number) const {
  return basePath_ + "_" + std::to_string(number) + ".log";
}

bool RotatingLog::writeLine(std::string_view text) {
  std::unique_lock lock(mutex_, kLockWait);
  if (!lock.owns_lock()) {
    return false;
  }
  if (!file_.isOpen() && !openLatestFile()) {
    return false;
  }
  const std::string line = formatLine(text);
  const std::optional<std::uint64_t> size = file_.size();
  if (!size) {
    return false;
  }
  if (*size + line.size() > maxFileSize_ && !switchFile()) {
    return false;
  }
  return file_.append(line);
}

void RotatingLog::close() {
  std::unique_lock lock(mutex_, kLockWait);
  if (!lock.owns_lock()) {
    return;
  }
  file_.close();
}

// Resumes in the file written last, so that a restarted hub continues where it stopped; on
// equal times the higher number wins, and file 1 starts a log that has no file yet.
bool RotatingLog::openLatestFile() {
  int latest = 1;
  std::optional<std::filesystem::file_time_type> latestTime;
  for (int number = 1; number <= kFileCount; ++number) {
    const auto time = lastWriteTime(filePath(number));
    if (time && (!latestTime || *time >= *latestTime)) {
      latest = number;
      latestTime = time;
    }
  }
  fileNumber_ = latest;
  return file_.open(filePath(fileNumber_), LogFile::Mode::kKeep);
}

// The full file stays as it is; the other one is emptied and takes the lines from now on.
bool RotatingLog::switchFile() {
  fileNumber_ = fileNumber_ % kFileCount + 1;
  file_.close();
  return file_.open(filePath(fileNumber_), LogFile::Mode::kTruncate);
}

std::string RotatingLog::formatLine(std::string_view text) const {
  const platform::LocalTime now = clock_.localTime();
  char stamp[kTimeStampCapacity];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);
  std::string line = stamp;
  // A line longer than a whole file is cut so that no file ever passes its maximum size.
  const std::uint64_t room = maxFileSize_ - std::min<std::uint64_t>(maxFileSize_, line.size() + 2);
  line.append(text.substr(0, static_cast<std::size_t>(room)));
  line.append("\r\n");
  return line;
}

}  // namespace korvane::hub
