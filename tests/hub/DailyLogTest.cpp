#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hub/DailyLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testing::fileExists;
using testing::ManualClock;
using testing::readFile;
using testing::TempProgramDir;
using testing::writeFile;

platform::LocalTime at(int year, int month, int day, int hour = 12, int minute = 0,
                       int second = 0) {
  return {year, month, day, hour, minute, second, 0};
}

TEST(DailyLog, WritesTimeStampedLinesWithCrLf) {
  struct Row {
    platform::LocalTime time;
    std::string text;
    std::string file;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {{2024, 1, 31, 12, 34, 56, 789},
       "hello",
       "0001_20240131.log",
       "[2024/01/31 12:34:56] hello\r\n"},
      // Every field is padded with zeros to its width; milliseconds are not shown.
      {{2024, 2, 3, 4, 5, 6, 7}, "x", "0001_20240203.log", "[2024/02/03 04:05:06] x\r\n"},
      {{2024, 1, 1, 0, 0, 0, 0}, "", "0001_20240101.log", "[2024/01/01 00:00:00] \r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    TempProgramDir dir;
    ManualClock clock;
    clock.setLocalTime(row.time);
    // One trailing '/' of the directory is dropped before "/" and the name are added.
    DailyLog log(dir.path() + "log/", "0001", clock);
    log.setEnabled(true);
    EXPECT_TRUE(log.writeLine(row.text));
    // Flushed after each line: readable while the log still holds the file open.
    EXPECT_EQ(readFile(dir.log(row.file)), row.expected);
  }
}

TEST(DailyLog, AppendsToTodaysExistingFile) {
  TempProgramDir dir;
  ManualClock clock;
  writeFile(dir.log("0001_20240131.log"), "[2024/01/31 08:00:00] before restart\r\n");
  DailyLog log(dir.path() + "log", "0001", clock);
  log.setEnabled(true);
  ASSERT_TRUE(log.writeLine("one"));
  ASSERT_TRUE(log.writeLine("two"));
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")),
            "[2024/01/31 08:00:00] before restart\r\n[2024/01/31 12:00:00] one\r\n"
            "[2024/01/31 12:00:00] two\r\n");
}

TEST(DailyLog, IgnoresLinesWhileDisabled) {
  TempProgramDir dir;
  ManualClock clock;
  DailyLog log(dir.path() + "log", "0001", clock);
  EXPECT_FALSE(log.writeLine("before start-up"));
  EXPECT_FALSE(fileExists(dir.log("0001_20240131.log")));

  log.setEnabled(true);
  EXPECT_TRUE(log.writeLine("on"));
  log.setEnabled(false);
  EXPECT_FALSE(log.writeLine("off again"));
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")), "[2024/01/31 12:00:00] on\r\n");
}

TEST(DailyLog, GarbageLimitStepsDaysThenMonths) {
  struct Row {
    const char* name;
    platform::LocalTime today;
    int months;
    int days;
    std::int64_t limit;
  };
  const std::vector<Row> rows = {
      // Days step back over month ends into the right month length.
      {"one day from 1 March of a leap year", at(2024, 3, 1), 0, 1, 20240229},
      {"one day from 1 March of a common year", at(2023, 3, 1), 0, 1, 20230228},
      {"one day from New Year", at(2024, 1, 1), 0, 1, 20231231},
      {"sixty days", at(2024, 3, 1), 0, 60, 20240101},
      {"largest configurable day count", at(2024, 3, 1), 0, 65536, 18440925},
      {"more than two 400-year cycles", at(2024, 3, 1), 0, 2 * 146097 + 1, 12240229},
      // Months keep the day, which is then cut to the month's length.
      {"one month from 31 March 2023", at(2023, 3, 31), 1, 0, 20230228},
      {"one month from 31 March 2024", at(2024, 3, 31), 1, 0, 20240229},
      {"year divisible by 400 is a leap year", at(2000, 3, 31), 1, 0, 20000229},
      {"year divisible by 100 only is not", at(2100, 3, 31), 1, 0, 21000228},
      {"one month from January", at(2024, 1, 15), 1, 0, 20231215},
      {"twelve months from 29 February", at(2024, 2, 29), 12, 0, 20230228},
      {"48 months from 29 February", at(2024, 2, 29), 48, 0, 20200229},
      {"largest configurable month count", at(2024, 3, 1), 120, 0, 20140301},
      // Days first, then months: 1 March - 1 day = 29 February, - 1 month = 29 January.
      {"days before months", at(2024, 3, 1), 1, 1, 20240129},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DailyLog::garbageLimit(row.today, row.months, row.days), row.limit);
  }
}

TEST(DailyLog, GarbageLimitOfHugeCountsIsBeforeYearOne) {
  EXPECT_LT(DailyLog::garbageLimit(at(2024, 3, 1), INT_MAX, INT_MAX), 0);
}

TEST(DailyLog, CollectGarbageDeletesDailyFilesUpToTheLimit) {
  struct Row {
    const char* name;
    platform::LocalTime today;
    int months;
    int days;
    std::vector<std::string> deleted;
    std::vector<std::string> kept;
  };
  const std::vector<Row> rows = {
      {"one day on 1 March 2024 keeps only today",
       at(2024, 3, 1),
       0,
       1,
       {"0001_20240229.log", "0001_20240228.log", "0001_19990101.log", "0001_abcdefgh.log"},
       {"0001_20240301.log", "0001_20240302.log"}},
      {"one month on 31 March 2023",
       at(2023, 3, 31),
       1,
       0,
       {"0001_20230228.log", "0001_20230101.log", "0001_abcdefgh.log"},
       {"0001_20230301.log", "0001_20230331.log"}},
      {"0 and 0 delete nothing",
       at(2024, 3, 1),
       0,
       0,
       {},
       {"0001_19990101.log", "0001_abcdefgh.log", "0001_20240301.log"}},
      {"negative counts are taken as 0",
       at(2024, 3, 1),
       -2,
       -3,
       {},
       {"0001_19990101.log", "0001_abcdefgh.log"}},
  };
  // Names that are never daily files of hub 1, whatever the setting.
  const std::vector<std::string> foreign = {
      "0001_2024013.log",    // 16 characters
      "0001_202401311.log",  // 18 characters
      "0001_1.log",          // the rotating log
      "0001_2.log",
      "0002_19990101.log",  // another hub's daily file
      "0001_19990101.txt",  "0001-19990101.log",
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    ManualClock clock;
    clock.setLocalTime(row.today);
    for (const auto* names : {&row.deleted, &row.kept, &foreign}) {
      for (const std::string& name : *names) {
        writeFile(dir.log(name), "line\r\n");
      }
    }
    // A folder with a daily file's name is not a file to delete.
    std::filesystem::create_directory(dir.log("0001_19980101.log"));

    DailyLog log(dir.path() + "log/", "0001", clock);
    log.setRetention(row.months, row.days);
    log.collectGarbage();

    for (const std::string& name : row.deleted) {
      EXPECT_FALSE(fileExists(dir.log(name))) << name;
    }
    for (const std::string& name : row.kept) {
      EXPECT_TRUE(fileExists(dir.log(name))) << name;
    }
    for (const std::string& name : foreign) {
      EXPECT_TRUE(fileExists(dir.log(name))) << name;
    }
    EXPECT_TRUE(fileExists(dir.log("0001_19980101.log")));
  }
}

TEST(DailyLog, MidnightOpensNewFileAndCollectsGarbage) {
  TempProgramDir dir;
  ManualClock clock;
  for (const char* name :
       {"0001_20240128.log", "0001_20240130.log", "0001_20240201.log", "0001_20240202.log"}) {
    writeFile(dir.log(name), "old\r\n");
  }
  DailyLog log(dir.path() + "log", "0001", clock);
  log.setEnabled(true);
  log.setRetention(1, 0);

  // The first line opens the day's file and collects: the limit is 29 January.
  clock.setLocalTime(at(2024, 2, 29, 23, 59, 59));
  ASSERT_TRUE(log.writeLine("last of February"));
  EXPECT_FALSE(fileExists(dir.log("0001_20240128.log")));
  EXPECT_TRUE(fileExists(dir.log("0001_20240130.log")));

  // The same day collects nothing more, even when a file has become old enough meanwhile.
  writeFile(dir.log("0001_20240101.log"), "old\r\n");
  ASSERT_TRUE(log.writeLine("still February"));
  EXPECT_TRUE(fileExists(dir.log("0001_20240101.log")));

  // After midnight the limit is 1 February.
  clock.setLocalTime(at(2024, 3, 1, 0, 0, 0));
  ASSERT_TRUE(log.writeLine("first of March"));
  EXPECT_EQ(readFile(dir.log("0001_20240229.log")),
            "[2024/02/29 23:59:59] last of February\r\n[2024/02/29 23:59:59] still February\r\n");
  EXPECT_EQ(readFile(dir.log("0001_20240301.log")), "[2024/03/01 00:00:00] first of March\r\n");
  EXPECT_FALSE(fileExists(dir.log("0001_20240101.log")));
  EXPECT_FALSE(fileExists(dir.log("0001_20240130.log")));
  EXPECT_FALSE(fileExists(dir.log("0001_20240201.log")));
  EXPECT_TRUE(fileExists(dir.log("0001_20240202.log")));
}

TEST(DailyLog, MissingFolderLosesLineAndNextLineWorks) {
  TempProgramDir dir;
  ManualClock clock;
  const std::string folder = dir.path() + "not-yet";
  DailyLog log(folder + "/", "0001", clock);
  log.setEnabled(true);

  EXPECT_FALSE(log.writeLine("lost"));
  EXPECT_FALSE(std::filesystem::exists(folder)) << "the log never creates its folder";

  std::filesystem::create_directory(folder);
  EXPECT_TRUE(log.writeLine("kept"));
  EXPECT_EQ(readFile(folder + "/0001_20240131.log"), "[2024/01/31 12:00:00] kept\r\n");
}

TEST(DailyLog, NewDayFileThatFailsToOpenIsTriedAgain) {
  TempProgramDir dir;
  ManualClock clock;
  DailyLog log(dir.path() + "log", "0001", clock);
  log.setEnabled(true);
  clock.setLocalTime(at(2024, 1, 31, 23, 0, 0));
  ASSERT_TRUE(log.writeLine("January"));

  // A folder in the place of the new day's file makes opening it fail.
  std::filesystem::create_directory(dir.log("0001_20240201.log"));
  clock.setLocalTime(at(2024, 2, 1, 0, 0, 1));
  EXPECT_FALSE(log.writeLine("lost"));
  EXPECT_FALSE(log.writeLine("lost again"));

  clock.setLocalTime(at(2024, 2, 2, 0, 0, 1));
  EXPECT_TRUE(log.writeLine("next day"));
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")), "[2024/01/31 23:00:00] January\r\n");
  EXPECT_EQ(readFile(dir.log("0001_20240202.log")), "[2024/02/02 00:00:01] next day\r\n");
}

TEST(DailyLog, CloseThenWriteOpensTheFileAgain) {
  TempProgramDir dir;
  ManualClock clock;
  DailyLog log(dir.path() + "log", "0001", clock);
  log.setEnabled(true);
  ASSERT_TRUE(log.writeLine("one"));
  log.close();
  ASSERT_TRUE(log.writeLine("two"));
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")),
            "[2024/01/31 12:00:00] one\r\n[2024/01/31 12:00:00] two\r\n");
}

TEST(DailyLog, ConcurrentWritersNeverMixLinesAcrossMidnights) {
  TempProgramDir dir;
  ManualClock clock;
  clock.setLocalTime(at(2024, 2, 1));
  DailyLog log(dir.path() + "log", "0001", clock);
  log.setEnabled(true);
  log.setRetention(0, 0);
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 500;
  constexpr int kDays = 20;
  const std::string padding(200, 'p');
  std::atomic<int> attempted{0};
  std::atomic<int> written{0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLinesPerThread; ++i) {
          if (log.writeLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                            padding)) {
            ++written;
          }
          ++attempted;
        }
      });
    }
    // The date moves on while the threads write, so that they meet the switch to a new file.
    for (int day = 2; day <= kDays; ++day) {
      while (attempted < (day - 1) * kThreads * kLinesPerThread / kDays) {
        std::this_thread::yield();
      }
      clock.setLocalTime(at(2024, 2, day));
    }
  }

  // Every line sits whole in the file of the date in its own time stamp.
  std::set<std::pair<int, int>> seen;
  for (int day = 1; day <= kDays; ++day) {
    char name[32];
    std::snprintf(name, sizeof name, "0001_202402%02d.log", day);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[2024/02/%02d 12:00:00] ", day);
    SCOPED_TRACE(name);
    const std::string file = readFile(dir.log(name));
    ASSERT_TRUE(file.empty() || file.ends_with("\r\n"));
    std::size_t start = 0;
    while (start < file.size()) {
      const std::size_t end = file.find("\r\n", start);
      const std::string line = file.substr(start, end - start);
      start = end + 2;
      int t = -1;
      int i = -1;
      ASSERT_TRUE(line.starts_with(stamp)) << line;
      ASSERT_EQ(std::sscanf(line.c_str() + std::strlen(stamp), "thread %d line %d", &t, &i), 2)
          << line;
      ASSERT_EQ(line, stamp + ("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                               padding));
      EXPECT_TRUE(seen.emplace(t, i).second) << "written twice: " << line;
    }
  }
  EXPECT_EQ(static_cast<int>(seen.size()), written.load());
  EXPECT_GT(written.load(), 0);
}

// Each line "[2024/01/31 12:00:00] line N\r\n" takes 30 bytes; a 100-byte cap is reached by the
// fourth.
constexpr std::uint64_t kSmallCap = 100;
const std::string kFullLine =
    "[2024/01/31 12:00:00] daily log full: further lines of this day left out\r\n";

TEST(DailyLog, DayFileEndsAtTheCapWithOneClosingLineUntilTheNextDay) {
  TempProgramDir dir;
  ManualClock clock;
  DailyLog log(dir.path() + "log", "0001", clock, kSmallCap);
  log.setEnabled(true);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(log.writeLine("line " + std::to_string(i))) << i;
  }
  for (int i = 5; i <= 9; ++i) {
    EXPECT_FALSE(log.writeLine("line " + std::to_string(i))) << i;
  }
  log.close();
  EXPECT_FALSE(log.writeLine("after close, same day"));

  clock.setLocalTime(at(2024, 2, 1, 0, 0, 0));
  EXPECT_TRUE(log.writeLine("next day"));
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")),
            "[2024/01/31 12:00:00] line 1\r\n[2024/01/31 12:00:00] line 2\r\n"
            "[2024/01/31 12:00:00] line 3\r\n[2024/01/31 12:00:00] line 4\r\n" +
                kFullLine);
  EXPECT_EQ(readFile(dir.log("0001_20240201.log")), "[2024/02/01 00:00:00] next day\r\n");
}

TEST(DailyLog, RestartCountsWhatTodaysFileHoldsAgainstTheCap) {
  struct Row {
    const char* name;
    std::string before;
    std::string after;
  };
  const std::string earlier(80, 'x');
  const std::string full = std::string(90, 'x') + kFullLine;
  const std::vector<Row> rows = {
      {"80 bytes: the next line reaches the cap", earlier,
       earlier + "[2024/01/31 12:00:00] line 1\r\n" + kFullLine},
      {"already closed: nothing more, no second closing line", full, full},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    ManualClock clock;
    writeFile(dir.log("0001_20240131.log"), row.before);
    DailyLog log(dir.path() + "log", "0001", clock, kSmallCap);
    log.setEnabled(true);
    log.writeLine("line 1");
    EXPECT_FALSE(log.writeLine("line 2"));
    EXPECT_EQ(readFile(dir.log("0001_20240131.log")), row.after);
  }
}

}  // namespace
}  // namespace korvane::hub
