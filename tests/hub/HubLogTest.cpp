#include <gtest/gtest.h>

#include <string>

#include "hub/HubLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testing::fileExists;
using testing::ManualClock;
using testing::readFile;
using testing::TempProgramDir;
using testing::writeFile;

TEST(HubLog, WritesEveryLineToBothLogsOfTheHub) {
  // The log directory is normally given with its final '/', but works without it.
  for (const std::string suffix : {"log/", "log"}) {
    SCOPED_TRACE(suffix);
    TempProgramDir dir;
    ManualClock clock;
    clock.setLocalTime({2024, 5, 6, 7, 8, 9, 10});
    HubLog log(dir.path() + suffix, 7, clock);
    log.startUp(0, 0);
    log.write("         Process started           ");
    log.write(" + CONNECTED");

    EXPECT_EQ(readFile(dir.log("0007_1.log")),
              "2024/05/06 07:08:09.010          Process started           \r\n"
              "2024/05/06 07:08:09.010  + CONNECTED\r\n");
    EXPECT_EQ(readFile(dir.log("0007_20240506.log")),
              "[2024/05/06 07:08:09]          Process started           \r\n"
              "[2024/05/06 07:08:09]  + CONNECTED\r\n");
  }
}

TEST(HubLog, DailyLogStartsWithStartUp) {
  TempProgramDir dir;
  ManualClock clock;
  HubLog log(dir.log(""), 1, clock);
  log.write("before start-up");
  log.startUp(0, 0);
  log.write("after start-up");

  EXPECT_EQ(
      readFile(dir.log("0001_1.log")),
      "2024/01/31 12:00:00.000 before start-up\r\n2024/01/31 12:00:00.000 after start-up\r\n");
  EXPECT_EQ(readFile(dir.log("0001_20240131.log")), "[2024/01/31 12:00:00] after start-up\r\n");
}

TEST(HubLog, StartUpDeletesDailyFilesAlreadyTooOld) {
  TempProgramDir dir;
  ManualClock clock;
  for (const char* name : {"0001_20240130.log", "0001_20240129.log", "0002_20200101.log"}) {
    writeFile(dir.log(name), "old\r\n");
  }
  HubLog log(dir.log(""), 1, clock);
  log.startUp(0, 2);  // keeps files after 29 January

  EXPECT_TRUE(fileExists(dir.log("0001_20240130.log")));
  EXPECT_FALSE(fileExists(dir.log("0001_20240129.log")));
  EXPECT_TRUE(fileExists(dir.log("0002_20200101.log")));
}

}  // namespace
}  // namespace korvane::hub
