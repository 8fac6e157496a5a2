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

/// The hub switches and the hubs to run of a file that the test expects to be readable.
std::vector<HubSwitch> switchesOf(const std::string& path) {
  std::string err;
  const auto hubs = readHubSwitches(path, &err);
  EXPECT_TRUE(hubs) << err;
  return hubs.value_or(std::vector<HubSwitch>{});
}

std::vector<int> runOf(const std::string& path) {
  std::string err;
  const auto hubs = hubsToRun(path, &err);
  EXPECT_TRUE(hubs) << err;
  return hubs.value_or(std::vector<int>{});
}

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
    const std::vector<HubSwitch> hubs = switchesOf(path);
    ASSERT_EQ(hubs.size(), 1u);
    EXPECT_EQ(hubs[0].number, 5);
    EXPECT_EQ(hubs[0].on, row.on);
    EXPECT_EQ(runOf(path), row.on ? std::vector<int>{5} : std::vector<int>{});
  }
}

TEST(ManagerHubList, RunsEnabledHubsInFileOrder) {
  TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  writeFile(path, "[SYSTEM]\r\nDomainSplitter=@\r\n" + hubSection(3, "ON") + hubSection(1, "OFF") +
                      "[FIREWALL]\r\nAutoSetting=on\r\n" + hubSection(2, "ON"));
  EXPECT_EQ(runOf(path), (std::vector<int>{3, 2}));
  const std::vector<HubSwitch> hubs = switchesOf(path);
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
  EXPECT_EQ(runOf(path), expected);
  EXPECT_EQ(switchesOf(path).size(), 34u);
}

TEST(ManagerHubList, MissingFileRunsNothing) {
  TempProgramDir dir;
  EXPECT_TRUE(switchesOf(dir.ini("Tollmar.ini")).empty());
  EXPECT_TRUE(runOf(dir.ini("Tollmar.ini")).empty());
}

}  // namespace
}  // namespace korvane::common
