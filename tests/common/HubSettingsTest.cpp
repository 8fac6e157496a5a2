#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "common/HubSettings.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

/// The settings of `hubNumber` from the file at `path`, which the test expects to be readable.
HubSettings settingsOf(const std::string& path, int hubNumber) {
  std::string err;
  const std::optional<HubSettings> settings = readHubSettings(path, hubNumber, &err);
  EXPECT_TRUE(settings) << err;
  return settings.value_or(HubSettings{});
}

/// Settings read from a file whose section 0007 holds `hubLines` and whose SYSTEM section holds
/// `systemLines` (both "Key=Value\r\n" lines).
HubSettings readWith(const std::string& hubLines, const std::string& systemLines = "") {
  TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  writeFile(path, "[SYSTEM]\r\n" + systemLines + "[0007]\r\n" + hubLines);
  return settingsOf(path, 7);
}

TEST(HubSettings, MissingFileGivesDefaults) {
  TempProgramDir dir;
  const HubSettings settings = settingsOf(dir.ini("Tollmar.ini"), 7);
  EXPECT_EQ(settings.portNo, 0);
  EXPECT_EQ(settings.authFlag, AuthFlag::kOff);
  EXPECT_EQ(settings.maxCon, 512);
  EXPECT_EQ(settings.snatPort, 0);
  EXPECT_EQ(settings.garbageMonths, 0);
  EXPECT_EQ(settings.garbageDays, 0);
  EXPECT_EQ(settings.splitter, '\r');
}

TEST(HubSettings, ReadsItsOwnSection) {
  TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  writeFile(path,
            "[0001]\r\nPortNo=1111\r\n"
            "[0007]\r\nPortNo=8888\r\nAuthFlag=1\r\nMaxCon=8\r\nSNATPort=9999\r\n"
            "GarbageMonths=3\r\nGarbageDays=10\r\n"
            "[SYSTEM]\r\nDomainSplitter=@\r\n");
  const HubSettings settings = settingsOf(path, 7);
  EXPECT_EQ(settings.portNo, 8888);
  EXPECT_EQ(settings.authFlag, AuthFlag::kOn);
  EXPECT_EQ(settings.maxCon, 8);
  EXPECT_EQ(settings.snatPort, 9999);
  EXPECT_EQ(settings.garbageMonths, 3);
  EXPECT_EQ(settings.garbageDays, 10);
  EXPECT_EQ(settings.splitter, '@');
}

TEST(HubSettings, PortKeepsItsLow16Bits) {
  struct Row {
    const char* value;
    int expected;
  };
  const Row rows[] = {
      {"8080", 8080}, {"65535", 65535},  {"65536", 0}, {"70000", 4464},
      {"-1", 65535},  {"8080abc", 8080}, {"abc", 0},   {"  443", 443},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("PortNo=") + row.value);
    EXPECT_EQ(readWith(std::string("PortNo=") + row.value + "\r\n").portNo, row.expected);
  }
}

TEST(HubSettings, RangesAndFallbacks) {
  struct Row {
    const char* line;  // empty: the key is missing
    int HubSettings::*field;
    int expected;
  };
  const Row rows[] = {
      // MaxCon: 1..512, else 512.
      {"", &HubSettings::maxCon, 512},
      {"MaxCon=0", &HubSettings::maxCon, 512},
      {"MaxCon=600", &HubSettings::maxCon, 512},
      {"MaxCon=-5", &HubSettings::maxCon, 512},
      {"MaxCon=8", &HubSettings::maxCon, 8},
      {"MaxCon=1", &HubSettings::maxCon, 1},
      {"MaxCon=512", &HubSettings::maxCon, 512},
      {"MaxCon=513", &HubSettings::maxCon, 512},
      // SNATPort: 1..65535, else 0.
      {"", &HubSettings::snatPort, 0},
      {"SNATPort=1", &HubSettings::snatPort, 1},
      {"SNATPort=65535", &HubSettings::snatPort, 65535},
      {"SNATPort=65536", &HubSettings::snatPort, 0},
      {"SNATPort=-80", &HubSettings::snatPort, 0},
      // GarbageMonths: missing 0, 0..120 taken, else 0.
      {"", &HubSettings::garbageMonths, 0},
      {"GarbageMonths=120", &HubSettings::garbageMonths, 120},
      {"GarbageMonths=121", &HubSettings::garbageMonths, 0},
      {"GarbageMonths=-1", &HubSettings::garbageMonths, 0},
      // GarbageDays: missing 0, 0..65536 taken, else 0.
      {"", &HubSettings::garbageDays, 0},
      {"GarbageDays=10000", &HubSettings::garbageDays, 10000},
      {"GarbageDays=65536", &HubSettings::garbageDays, 65536},
      {"GarbageDays=65537", &HubSettings::garbageDays, 0},
      {"GarbageDays=-2", &HubSettings::garbageDays, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(*row.line == '\0' ? std::string("key missing") : std::string(row.line));
    const std::string lines = *row.line == '\0' ? "" : std::string(row.line) + "\r\n";
    EXPECT_EQ(readWith(lines).*row.field, row.expected);
  }
}

TEST(HubSettings, AuthenticationOnlyWithAuthFlagOne) {
  const std::pair<const char*, AuthFlag> rows[] = {
      {"", AuthFlag::kOff},
      {"AuthFlag=1\r\n", AuthFlag::kOn},
      {"AuthFlag=0\r\n", AuthFlag::kOff},
      {"AuthFlag=7\r\n", AuthFlag::kOff},
  };
  for (const auto& [lines, expected] : rows) {
    SCOPED_TRACE(lines);
    EXPECT_EQ(readWith(lines).authFlag, expected);
  }
}

TEST(HubSettings, DomainSplitter) {
  struct Row {
    const char* systemLines;
    char expected;
  };
  const Row rows[] = {
      {"", '\r'},
      {"DomainSplitter=<NONE>\r\n", '\r'},
      {"DomainSplitter=@\r\n", '@'},
      {"DomainSplitter=#@\r\n", '#'},
      {"DomainSplitter=\r\n", '\r'},
      {"DomainSplitter=<NONE>x\r\n", '<'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.systemLines);
    EXPECT_EQ(readWith("PortNo=1\r\n", row.systemLines).splitter, row.expected);
  }
}

TEST(HubSettings, OverlongValueIsCutTo1023Characters) {
  // A value of 1024 characters loses its last one: 1023 zeros and an 8 read as 0, which is out
  // of range, while 1022 zeros and an 8 still read as 8.
  EXPECT_EQ(readWith("MaxCon=" + std::string(1023, '0') + "8\r\n").maxCon, 512);
  EXPECT_EQ(readWith("MaxCon=" + std::string(1022, '0') + "8\r\n").maxCon, 8);
}

}  // namespace
}  // namespace korvane::common
