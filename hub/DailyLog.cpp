#include "hub/DailyLog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "common/Atoi.h"

namespace korvane::hub {
namespace {

/// Room for "[%04d/%02d/%02d %02d:%02d:%02d] " or "%04d%02d%02d" with integers of any value.
constexpr std::size_t kTextCapacity = 96;
/// A daily file is named "<prefix>_yyyymmdd.log": the date has eight characters.
constexpr std::size_t kDateLength = 8;
constexpr std::string_view kExtension = ".log";
/// The Gregorian calendar repeats itself after 400 years, which are exactly this many days.
constexpr std::int64_t kDaysPer400Years = 146'097;

struct Date {
  std::int64_t year;
  int month;
  int day;
};

bool isLeapYear(std::int64_t year) {
  if (year % 400 == 0) {
    return true;
  }
  if (year % 100 == 0) {
    return false;
  }
  return year % 4 == 0;
}

int daysInMonth(std::int64_t year, int month) {
  switch (month) {
    case 2:
      return isLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    default:
      return 31;
  }
}

void stepBackMonth(Date& date) {
  if (date.month > 1) {
    --date.month;
    return;
  }
  date.month = 12;
  --date.year;
}

// One day back at a time, from the first of a month to the last day of the month before; whole
// runs of days within a month and whole 400-year cycles are taken in one step, so that any count
// finishes at once.
void stepBackDays(Date& date, std::int64_t days) {
  while (days > 0) {
    if (date.day > 1) {
      const std::int64_t step = std::min<std::int64_t>(days, date.day - 1);
      date.day -= static_cast<int>(step);
      days -= step;
      continue;
    }
    stepBackMonth(date);
    date.day = daysInMonth(date.year, date.month);
    --days;
    date.year -= 400 * (days / kDaysPer400Years);
    days %= kDaysPer400Years;
  }
}

void stepBackMonths(Date& date, std::int64_t months) {
  date.year -= months / 12;
  for (months %= 12; months > 0; --months) {
    stepBackMonth(date);
  }
}

std::string formatDate(const platform::LocalTime& time) {
  char date[kTextCapacity];
  std::snprintf(date, sizeof date, "%04d%02d%02d", time.year, time.month, time.day);
  return date;
}

std::string formatLine(const platform::LocalTime& time, std::string_view text) {
  char stamp[kTextCapacity];
  std::snprintf(stamp, sizeof stamp, "[%04d/%02d/%02d %02d:%02d:%02d] ", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  std::string line = stamp;
  line.append(text);
  line.append("\r\n");
  return line;
}

}  // namespace

DailyLog::DailyLog(std::string directory, std::string prefix, const platform::Clock& clock,
                   std::uint64_t maxDayBytes)
    : directory_(std::move(directory)),
      prefix_(std::move(prefix)),
      clock_(clock),
      maxDayBytes_(maxDayBytes) {
  if (!directory_.empty() && directory_.back() == '/') {
    directory_.pop_back();
  }
}

void DailyLog::setEnabled(bool enabled) {
  enabled_ = enabled;
}

void DailyLog::setRetention(int months, int days) {
  garbageMonths_ = std::max(months, 0);
  garbageDays_ = std::max(days, 0);
}

bool DailyLog::writeLine(std::string_view text) {
  if (!enabled_) {
    return false;
  }
  std::unique_lock lock(mutex_, kLockWait);
  if (!lock.owns_lock()) {
    return false;
  }
  const platform::LocalTime now = clock_.localTime();
  const std::string today = formatDate(now);
  if (today != date_) {
    file_.close();
    if (openDayFile(today)) {
      collectGarbageLocked(now);
    }
  } else if (!file_.isOpen() && !openDayFile(today)) {
    return false;
  }
  if (!file_.isOpen()) {
    return false;
  }
  date_ = today;
  return appendCapped(formatLine(now, text), now);
}

void DailyLog::collectGarbage() {
  std::unique_lock lock(mutex_, kLockWait);
  if (!lock.owns_lock()) {
    return;
  }
  collectGarbageLocked(clock_.localTime());
}

void DailyLog::close() {
  std::unique_lock lock(mutex_, kLockWait);
  if (!lock.owns_lock()) {
    return;
  }
  file_.close();
}

std::int64_t DailyLog::garbageLimit(const platform::LocalTime& today, int months, int days) {
  Date date{today.year, today.month, today.day};
  stepBackDays(date, std::max(days, 0));
  stepBackMonths(date, std::max(months, 0));
  date.day = std::min(date.day, daysInMonth(date.year, date.month));
  return date.year * 10000 + date.month * 100 + date.day;
}

// The line that brings a file to the cap is always followed by the closing line, so a file found
// at or past the cap (after a restart, or opened again after close()) has it already.
bool DailyLog::openDayFile(const std::string& date) {
  if (!file_.open(filePath(date), LogFile::Mode::kKeep)) {
    return false;
  }
  dayBytes_ = file_.size().value_or(0);
  dayFull_ = dayBytes_ >= maxDayBytes_;
  return true;
}

bool DailyLog::appendCapped(const std::string& line, const platform::LocalTime& now) {
  if (dayFull_) {
    return false;
  }
  if (!file_.append(line)) {
    return false;
  }
  dayBytes_ += line.size();
  if (dayBytes_ >= maxDayBytes_) {
    // Whether or not the closing line reaches the disk, the day's file takes nothing more.
    dayFull_ = true;
    (void)file_.append(formatLine(now, kDayFullLine));
  }
  return true;
}

std::string DailyLog::filePath(const std::string& date) const {
  return directory_ + "/" + prefix_ + "_" + date + std::string(kExtension);
}

bool DailyLog::isDailyFileName(std::string_view name) const {
  return name.size() == prefix_.size() + 1 + kDateLength + kExtension.size() &&
         name.starts_with(prefix_) && name[prefix_.size()] == '_' && name.ends_with(kExtension);
}

void DailyLog::collectGarbageLocked(const platform::LocalTime& today) {
  const int months = garbageMonths_;
  const int days = garbageDays_;
  if (months == 0 && days == 0) {
    return;
  }
  const std::int64_t limit = garbageLimit(today, months, days);
  const std::filesystem::path folder = directory_.empty() ? std::string("/") : directory_;
  std::vector<std::string> doomed;
  std::error_code error;
  // Iterating with error codes: a folder that vanishes or cannot be read ends the listing.
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (!isDailyFileName(name) || it->is_directory(typeError)) {
      continue;
    }
    // The date is read as numbers even when it is not one: "abcdefgh" is day 0 and goes.
    const std::string_view date = std::string_view(name).substr(prefix_.size() + 1, kDateLength);
    const std::int64_t value = std::int64_t{common::atoiLike(date.substr(0, 4))} * 10000 +
                               common::atoiLike(date.substr(4, 2)) * 100 +
                               common::atoiLike(date.substr(6, 2));
    if (value <= limit) {
      doomed.push_back(name);
    }
  }
  for (const std::string& name : doomed) {
    std::error_code ignored;
    std::filesystem::remove(directory_ + "/" + name, ignored);
  }
}

}  // namespace korvane::hub
