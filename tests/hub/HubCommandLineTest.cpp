#include "hub/HubCommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::hub {
namespace {

TEST(HubCommandLine, ParsesTokensLikeTheManagerWritesThem) {
  struct Row {
    std::string text;
    int hubNumber;
    int managerProcessId;
  };
  const Row rows[] = {
      {"", 0, 0},
      {"0001 1234", 1, 1234},
      {"0003", 3, 0},
      {"   0007    42   ", 7, 42},
      {"12abc 9", 12, 9},                        // conversion stops at the first non-digit
      {"abc 9", 0, 9},                           // no digits at all reads as 0
      {"0001\t1234", 1, 0},                      // a tab does not separate tokens
      {"-5 3", -5, 3},                           // a sign is read; the range check comes later
      {std::string(31, '1').replace(0, 27, 27, '0') + " 5", 1111, 5},  // 31 characters: read
      {std::string(32, '0') + " 5", 0, 5},       // 32 characters: ignored
      {std::string(40, '9') + " 5", 0, 5},
      {"0002 " + std::string(32, '1'), 2, 0},    // the second token follows the same rule
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("command line: \"" + row.text + "\"");
    const HubCommandLine line = parseHubCommandLine(row.text);
    EXPECT_EQ(line.hubNumber, row.hubNumber);
    EXPECT_EQ(line.managerProcessId, row.managerProcessId);
  }
}

TEST(HubCommandLine, JoinsArgumentsWithSingleSpaces) {
  const char* argv[] = {"kvhub", "0001", "1234"};
  EXPECT_EQ(joinArguments(3, argv), "0001 1234");
  EXPECT_EQ(joinArguments(1, argv), "");
}

}  // namespace
}  // namespace korvane::hub
