#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hub/RotatingLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testing::ManualClock;
using testing::readFile;
using testing::TempProgramDir;
using testing::writeFile;

constexpr std::size_t kMax = RotatingLog::kMaxFileSize;

/// The stamp that ManualClock's default time (2024/01/31 12:00:00.000) gives.
const std::string kStamp = "2024/01/31 12:00:00.000 ";

/// A text whose whole line (stamp, text, CR LF) takes exactly `lineSize` bytes.
std::string textForLineSize(std::size_t lineSize) {
  return std::string(lineSize - RotatingLog::kLineOverhead, 'x');
}

void setAge(const std::string& path, std::chrono::hours age) {
  const auto now = std::filesystem::file_time_type::clock::now();
  std::filesystem::last_write_time(path, now - age);
}

std::uintmax_t sizeOf(const std::string& path) {
  return std::filesystem::file_size(path);
}

TEST(RotatingLog, WritesTimeStampedLinesWithCrLf) {
  struct Row {
    platform::LocalTime time;
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {{2024, 1, 31, 12, 34, 56, 789}, "hello", "2024/01/31 12:34:56.789 hello\r\n"},
      // Every field is padded with zeros to its width.
      {{2024, 2, 3, 4, 5, 6, 7}, "x", "2024/02/03 04:05:06.007 x\r\n"},
      {{999, 12, 31, 23, 59, 59, 999}, "late", "0999/12/31 23:59:59.999 late\r\n"},
      // An empty text still makes a line; the stamp ends with its blank.
      {{2024, 1, 1, 0, 0, 0, 0}, "", "2024/01/01 00:00:00.000 \r\n"},
      // The text is written byte for byte, whatever it holds.
      {{2024, 1, 1, 0, 0, 0, 0},
       std::string("a\0b\xff", 4),
       std::string("2024/01/01 00:00:00.000 a\0b\xff\r\n", 30)},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].expected);
    TempProgramDir dir;
    ManualClock clock;
    clock.setLocalTime(rows[i].time);
    RotatingLog log(dir.log("0001"), clock);
    EXPECT_TRUE(log.writeLine(rows[i].text));
    EXPECT_EQ(readFile(dir.log("0001_1.log")), rows[i].expected);
    EXPECT_FALSE(testing::fileExists(dir.log("0001_2.log")));
  }
}

TEST(RotatingLog, KeepsFileOpenAndReadableBetweenLines) {
  TempProgramDir dir;
  ManualClock clock;
  RotatingLog log(dir.log("0001"), clock);
  ASSERT_TRUE(log.writeLine("one"));
  // Another reader sees the first line before the log is closed.
  EXPECT_EQ(readFile(dir.log("0001_1.log")), kStamp + "one\r\n");
  ASSERT_TRUE(log.writeLine("two"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), kStamp + "one\r\n" + kStamp + "two\r\n");
}

TEST(RotatingLog, KeepsWhatTheFileAlreadyHolds) {
  TempProgramDir dir;
  ManualClock clock;
  writeFile(dir.log("0001_1.log"), "earlier\r\n");
  RotatingLog log(dir.log("0001"), clock);
  ASSERT_TRUE(log.writeLine("now"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), "earlier\r\n" + kStamp + "now\r\n");
}

TEST(RotatingLog, LineThatWouldPassMaximumGoesToEmptiedOtherFile) {
  struct Row {
    const char* name;
    std::size_t filled;  // bytes already in file 1, the file written last
    bool switches;
  };
  const std::string line = kStamp + "x\r\n";  // 27 bytes
  const std::vector<Row> rows = {
      {"line ends exactly at the maximum", kMax - line.size(), false},
      {"line would pass the maximum by one byte", kMax - line.size() + 1, true},
      {"file already full", kMax, true},
      {"file larger than the maximum", kMax + 10, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    ManualClock clock;
    const std::string full(row.filled, 'f');
    writeFile(dir.log("0001_1.log"), full);
    writeFile(dir.log("0001_2.log"), "stale lines of the older file\r\n");
    setAge(dir.log("0001_2.log"), std::chrono::hours(2));
    setAge(dir.log("0001_1.log"), std::chrono::hours(1));

    RotatingLog log(dir.log("0001"), clock);
    ASSERT_TRUE(log.writeLine("x"));

    if (row.switches) {
      EXPECT_EQ(readFile(dir.log("0001_1.log")), full) << "the full file stays as it is";
      EXPECT_EQ(readFile(dir.log("0001_2.log")), line) << "the other file is emptied first";
    } else {
      EXPECT_EQ(readFile(dir.log("0001_1.log")), full + line);
      EXPECT_EQ(sizeOf(dir.log("0001_1.log")), kMax);
      EXPECT_EQ(readFile(dir.log("0001_2.log")), "stale lines of the older file\r\n");
    }
  }
}

TEST(RotatingLog, FillsBothFilesInTurn) {
  TempProgramDir dir;
  ManualClock clock;
  RotatingLog log(dir.log("0001"), clock);
  // Ten lines of 100,000 bytes fill a file exactly; the eleventh goes to the next file.
  const std::string text = textForLineSize(100'000);
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(log.writeLine(text));
  }
  EXPECT_EQ(sizeOf(dir.log("0001_1.log")), kMax);
  EXPECT_FALSE(testing::fileExists(dir.log("0001_2.log")));

  ASSERT_TRUE(log.writeLine(text));
  EXPECT_EQ(sizeOf(dir.log("0001_1.log")), kMax);
  EXPECT_EQ(sizeOf(dir.log("0001_2.log")), 100'000u);

  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(log.writeLine(text));
  }
  EXPECT_EQ(sizeOf(dir.log("0001_2.log")), kMax);

  // File 2 is full: file 1 follows it again, emptied first.
  ASSERT_TRUE(log.writeLine("back to one"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), kStamp + "back to one\r\n");
  EXPECT_EQ(sizeOf(dir.log("0001_2.log")), kMax);
}

TEST(RotatingLog, ResumesInFileWrittenLast) {
  struct Row {
    const char* name;
    int ageOfFile1;  // hours; -1 = no such file
    int ageOfFile2;
    int expectedFile;
  };
  const std::vector<Row> rows = {
      {"no file yet starts with 1", -1, -1, 1},
      {"only file 1", 1, -1, 1},
      {"only file 2", -1, 1, 2},
      {"file 1 written last", 1, 2, 1},
      {"file 2 written last", 2, 1, 2},
      {"equal times pick the higher number", 3, 3, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempProgramDir dir;
    ManualClock clock;
    const std::string paths[] = {dir.log("0001_1.log"), dir.log("0001_2.log")};
    const int ages[] = {row.ageOfFile1, row.ageOfFile2};
    // Equal times are set from one reading of the clock.
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int i = 0; i < 2; ++i) {
      if (ages[i] >= 0) {
        writeFile(paths[i], "old\r\n");
        std::filesystem::last_write_time(paths[i], now - std::chrono::hours(ages[i]));
      }
    }

    RotatingLog log(dir.log("0001"), clock);
    ASSERT_TRUE(log.writeLine("resumed"));

    for (int i = 0; i < 2; ++i) {
      const std::string before = ages[i] >= 0 ? "old\r\n" : "";
      const std::string expected =
          i + 1 == row.expectedFile ? before + kStamp + "resumed\r\n" : before;
      EXPECT_EQ(readFile(paths[i]), expected) << "file " << i + 1;
    }
  }
}

TEST(RotatingLog, ContinuesAfterRestartInFileItWroteLast) {
  TempProgramDir dir;
  ManualClock clock;
  const std::string text = textForLineSize(250'000);
  {
    RotatingLog log(dir.log("0001"), clock);
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(log.writeLine(text));
    }
    log.close();
  }
  const std::string file1 = readFile(dir.log("0001_1.log"));
  ASSERT_EQ(file1.size(), kMax);
  ASSERT_EQ(sizeOf(dir.log("0001_2.log")), 250'000u);

  RotatingLog restarted(dir.log("0001"), clock);
  ASSERT_TRUE(restarted.writeLine("after restart"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), file1);
  EXPECT_EQ(readFile(dir.log("0001_2.log")), kStamp + text + "\r\n" + kStamp + "after restart\r\n");

  // A closed log opens its file again for the next line.
  restarted.close();
  ASSERT_TRUE(restarted.writeLine("after close"));
  EXPECT_TRUE(
      readFile(dir.log("0001_2.log")).ends_with("after restart\r\n" + kStamp + "after close\r\n"));
}

TEST(RotatingLog, MissingFolderLosesLineAndNextLineWorks) {
  TempProgramDir dir;
  ManualClock clock;
  const std::string folder = dir.path() + "not-yet/";
  RotatingLog log(folder + "0001", clock);

  EXPECT_FALSE(log.writeLine("lost"));
  EXPECT_FALSE(std::filesystem::exists(folder)) << "the log never creates its folder";

  std::filesystem::create_directory(folder);
  EXPECT_TRUE(log.writeLine("kept"));
  EXPECT_EQ(readFile(folder + "0001_1.log"), kStamp + "kept\r\n");
}

TEST(RotatingLog, FailedSwitchLosesLineAndNextLineTriesAgain) {
  TempProgramDir dir;
  ManualClock clock;
  const std::string full(kMax, 'f');
  writeFile(dir.log("0001_1.log"), full);
  // A folder in the place of file 2 makes creating that file fail.
  std::filesystem::create_directory(dir.log("0001_2.log"));
  setAge(dir.log("0001_2.log"), std::chrono::hours(2));
  setAge(dir.log("0001_1.log"), std::chrono::hours(1));

  RotatingLog log(dir.log("0001"), clock);
  EXPECT_FALSE(log.writeLine("lost"));
  EXPECT_FALSE(log.writeLine("lost again"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), full);

  std::filesystem::remove(dir.log("0001_2.log"));
  EXPECT_TRUE(log.writeLine("kept"));
  EXPECT_EQ(readFile(dir.log("0001_1.log")), full);
  EXPECT_EQ(readFile(dir.log("0001_2.log")), kStamp + "kept\r\n");
}

TEST(RotatingLog, LineLongerThanAFileIsCutToFitOneFile) {
  TempProgramDir dir;
  ManualClock clock;
  RotatingLog log(dir.log("0001"), clock);
  ASSERT_TRUE(log.writeLine("first"));
  ASSERT_TRUE(log.writeLine(std::string(kMax + 500, 'y')));

  EXPECT_EQ(readFile(dir.log("0001_1.log")), kStamp + "first\r\n");
  const std::string file2 = readFile(dir.log("0001_2.log"));
  EXPECT_EQ(file2.size(), kMax);
  EXPECT_EQ(file2, kStamp + std::string(kMax - RotatingLog::kLineOverhead, 'y') + "\r\n");
}

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 500;

std::string concurrentText(int thread, int line, const std::string& padding) {
  return "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " + padding;
}

/// Writes kLinesPerThread lines from each of kThreads threads at once; returns how many lines
/// the log reported as written.
int writeConcurrently(RotatingLog& log, const std::string& padding) {
  std::vector<int> written(kThreads, 0);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLinesPerThread; ++i) {
          if (log.writeLine(concurrentText(t, i, padding))) {
            ++written[t];
          }
        }
      });
    }
  }
  int total = 0;
  for (int count : written) {
    total += count;
  }
  return total;
}

/// Checks that `file` is made of whole lines of writeConcurrently(), none seen before.
void expectWholeLines(const std::string& file, const std::string& padding,
                      std::set<std::pair<int, int>>& seen) {
  ASSERT_TRUE(file.empty() || file.ends_with("\r\n"));
  std::size_t start = 0;
  while (start < file.size()) {
    const std::size_t end = file.find("\r\n", start);
    const std::string line = file.substr(start, end - start);
    start = end + 2;
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "2024/01/31 12:00:00.000 thread %d line %d", &t, &i), 2)
        << line;
    ASSERT_EQ(line, kStamp + concurrentText(t, i, padding));
    EXPECT_TRUE(seen.emplace(t, i).second) << "written twice: " << line;
  }
}

TEST(RotatingLog, ConcurrentWritersNeverMixOrLoseLines) {
  TempProgramDir dir;
  ManualClock clock;
  RotatingLog log(dir.log("0001"), clock);
  // About 1.2 MB in all, so that the switch to file 2 happens while the threads write.
  const std::string padding(280, 'p');
  const int written = writeConcurrently(log, padding);

  std::set<std::pair<int, int>> seen;
  expectWholeLines(readFile(dir.log("0001_1.log")), padding, seen);
  expectWholeLines(readFile(dir.log("0001_2.log")), padding, seen);
  EXPECT_EQ(static_cast<int>(seen.size()), written);
  EXPECT_GT(written, 0);
  EXPECT_LE(sizeOf(dir.log("0001_1.log")), kMax);
}

TEST(RotatingLog, ConcurrentWritersSwitchingOftenKeepFilesWholeAndSmall) {
  TempProgramDir dir;
  ManualClock clock;
  // Small files make the threads switch files about a hundred times while they write.
  constexpr std::uint64_t kSmallFile = 6'000;
  RotatingLog log(dir.log("0001"), clock, kSmallFile);
  const std::string padding(100, 'p');
  EXPECT_GT(writeConcurrently(log, padding), 0);

  std::set<std::pair<int, int>> seen;
  for (const char* name : {"0001_1.log", "0001_2.log"}) {
    SCOPED_TRACE(name);
    EXPECT_LE(sizeOf(dir.log(name)), kSmallFile);
    expectWholeLines(readFile(dir.log(name)), padding, seen);
  }
}

}  // namespace
}  // namespace korvane::hub
