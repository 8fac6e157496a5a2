#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/ProgramDirectory.h"
#include "platform/Random.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

/// Sets or removes KORVANE_PROGRAM_DIR for one scope and puts the old value back afterwards.
class ProgramDirVariable {
 public:
  explicit ProgramDirVariable(const std::optional<std::string>& value) {
    if (const char* old = std::getenv(kProgramDirectoryVariable); old != nullptr) {
      previous_ = old;
    }
    if (value) {
      setenv(kProgramDirectoryVariable, value->c_str(), 1);
    } else {
      unsetenv(kProgramDirectoryVariable);
    }
  }
  ~ProgramDirVariable() {
    if (previous_) {
      setenv(kProgramDirectoryVariable, previous_->c_str(), 1);
    } else {
      unsetenv(kProgramDirectoryVariable);
    }
  }
  ProgramDirVariable(const ProgramDirVariable&) = delete;
  ProgramDirVariable& operator=(const ProgramDirVariable&) = delete;

 private:
  std::optional<std::string> previous_;
};

/// The folder this test program was built into (the build's tests/ folder).
std::filesystem::path testProgramFolder() {
  // KORVANE_BINARY_DIR is the build's program folder "<build>/hub/".
  return std::filesystem::path(KORVANE_BINARY_DIR).parent_path().parent_path() / "tests";
}

// --- Program directory -----------------------------------------------------------------------

TEST(ProgramDirectory, HonoursTheVariableWithOrWithoutTrailingSlash) {
  struct Row {
    const char* value;
    const char* expected;
  };
  const Row rows[] = {
      {"/opt/korvane/hub", "/opt/korvane/hub/"},
      {"/opt/korvane/hub/", "/opt/korvane/hub/"},
      {"/", "/"},
      {"relative/dir", "relative/dir/"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    ProgramDirVariable variable(std::string(row.value));
    EXPECT_EQ(programDirectory(), row.expected);
  }
}

TEST(ProgramDirectory, IsTheProgramsOwnFolderWhenTheVariableIsUnsetOrEmpty) {
  const std::optional<std::string> values[] = {std::nullopt, std::string()};
  for (const auto& value : values) {
    SCOPED_TRACE(value ? "empty" : "unset");
    ProgramDirVariable variable(value);
    const std::string dir = programDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(dir, testProgramFolder())) << dir;
    EXPECT_TRUE(std::filesystem::exists(dir + "platform_tests")) << dir;
  }
}

// --- Random bytes ----------------------------------------------------------------------------

TEST(Random, FillsWithBytesThatAreNotAllZero) {
  // Sizes around getrandom's 256-byte guarantee against short reads, and a large one that the
  // kernel may hand over in several pieces.
  const std::size_t sizes[] = {1, 16, 255, 256, 257, 1 << 20};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> bytes(size, 0);
    ASSERT_TRUE(fillRandom(bytes));
    if (size >= 16) {
      // 16 zero bytes from a working source: 1 in 2^128.
      EXPECT_TRUE(std::any_of(bytes.begin(), bytes.end(), [](auto b) { return b != 0; }));
      // The end of the buffer is filled as well as its start.
      EXPECT_TRUE(std::any_of(bytes.end() - 16, bytes.end(), [](auto b) { return b != 0; }));
    }
  }
}

TEST(Random, TwoDrawsDiffer) {
  std::array<std::uint8_t, 16> first{};
  std::array<std::uint8_t, 16> second{};
  ASSERT_TRUE(fillRandom(first));
  ASSERT_TRUE(fillRandom(second));
  EXPECT_NE(first, second);
}

TEST(Random, EmptyBufferSucceeds) {
  EXPECT_TRUE(fillRandom(std::span<std::uint8_t>()));
}

// --- Clock -----------------------------------------------------------------------------------

TEST(Clock, TicksBetweenSurvivesTheWrapOfTheCount) {
  struct Row {
    Tick earlier;
    Tick later;
    std::uint32_t expected;
  };
  const Row rows[] = {
      // ordinary
      {0, 0, 0},
      {10, 25, 15},
      {0, 0xFFFFFFFFu, 0xFFFFFFFFu},
      // across the wrap
      {0xFFFFFFFFu, 0, 1},
      {0xFFFFFFF0u, 0x10u, 0x20u},
      {0xFFFFFC18u, 500, 1500},  // 1000 ms before the wrap to 500 ms after it
      // a later reading that is "before" the earlier one reads as almost a whole cycle
      {5, 4, 0xFFFFFFFFu},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.earlier << " -> " << row.later);
    EXPECT_EQ(ticksBetween(row.earlier, row.later), row.expected);
  }
}

TEST(Clock, SystemTickCountMovesForwardInMilliseconds) {
  const Clock& clock = systemClock();
  const Tick before = clock.tickCount();
  clock.sleepFor(30ms);
  const Tick after = clock.tickCount();
  EXPECT_GE(ticksBetween(before, after), 30u);
  EXPECT_LT(ticksBetween(before, after), 5000u);
}

TEST(Clock, SystemLocalTimeIsSaneAndMatchesTheEpochSeconds) {
  const Clock& clock = systemClock();
  const std::int64_t epochBefore = clock.secondsSinceEpoch();
  const LocalTime now = clock.localTime();
  const std::int64_t epochAfter = clock.secondsSinceEpoch();

  EXPECT_GE(now.year, 2024);
  EXPECT_LT(now.year, 2200);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_GE(now.hour, 0);
  EXPECT_LE(now.hour, 23);
  EXPECT_GE(now.minute, 0);
  EXPECT_LE(now.minute, 59);
  EXPECT_GE(now.second, 0);
  EXPECT_LE(now.second, 60);  // a leap second
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);

  // The calendar fields, read back as local time, name the same second as the epoch count, so a
  // month or year off by one would show.
  tm parts{};
  parts.tm_year = now.year - 1900;
  parts.tm_mon = now.month - 1;
  parts.tm_mday = now.day;
  parts.tm_hour = now.hour;
  parts.tm_min = now.minute;
  parts.tm_sec = now.second;
  parts.tm_isdst = -1;
  const std::int64_t fromFields = mktime(&parts);
  EXPECT_GE(fromFields, epochBefore - 1);
  EXPECT_LE(fromFields, epochAfter + 1);
}

}  // namespace
}  // namespace korvane::platform
