#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/ManagerHubList.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

std::string hubSection(int number, const std::string& status) {
  char header[16];
  std::snprintf(header, sizeof header, "[%04d]\r\n", number);
  return header + (status.empty() ? std::string() : "Status=" + status + "\r\n");
}

TEST(ManagerHubList, OnlyExactOnRuns) {
  struct Row {
    const char* status;  // empty: the key is missing
    bool on;
  };
  const Row rows[] = {
      {"ON", true}, {"OFF", false}, {"on", false}, {"On", false}, {"", false}, {"ONE", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("Status=") + row.status);
    TempProgramDir dir;
    const std::string path = dir.ini("Tollmar.ini");
    writeFile(path, hubSection(5, row.status));
    const std::vector<HubSwitch> hubs = readHubSwitches(path);
    ASSERT_EQ(hubs.size(), 1u);
    EXPECT_EQ(hubs[0].number, 5);
    EXPECT_EQ(hubs[0].on, row.on);
    EXPECT_EQ(hubsToRun(path), row.on ? std::vector<int>{5} : std::vector<int>{});
  }
}

TEST(ManagerHubList, RunsEnabledHubsInFileOrder) {
  TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  writeFile(path, "[SYSTEM]\r\nDomainSplitter=@\r\n" + hubSection(3, "ON") + hubSection(1, "OFF") +
                      "[FIREWALL]\r\nAutoSetting=on\r\n" + hubSection(2, "ON"));
  EXPECT_EQ(hubsToRun(path), (std::vector<int>{3, 2}));
  const std::vector<HubSwitch> hubs = readHubSwitches(path);
  ASSERT_EQ(hubs.size(), 3u);
  EXPECT_EQ(hubs[1].number, 1);
  EXPECT_FALSE(hubs[1].on);
}

TEST(ManagerHubList, RunsOnlyTheFirst32Enabled) {
  TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  std::string content = hubSection(100, "OFF");
  std::vector<int> expected;
  for (int number = 33; number >= 1; --number) {
    content += hubSection(number, "ON");
    if (expected.size() < 32) {
      expected.push_back(number);
    }
  }
  writeFile(path, content);
  EXPECT_EQ(hubsToRun(path), expected);
  EXPECT_EQ(readHubSwitches(path).size(), 34u);
}

TEST(ManagerHubList, MissingFileRunsNothing) {
  TempProgramDir dir;
  EXPECT_TRUE(readHubSwitches(dir.ini("Tollmar.ini")).empty());
  EXPECT_TRUE(hubsToRun(dir.ini("Tollmar.ini")).empty());
}

}  // namespace
}  // namespace korvane::common
