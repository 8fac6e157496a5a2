// Unit tests of the rate limit on log lines that repeat with every frame or every connection.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "hub/LineRateLimit.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

TEST(LineRateLimit, LetsOneLineThroughPerIntervalAndCountsTheRest) {
  struct Row {
    platform::Tick at;
    std::optional<std::uint64_t> expected;  // std::nullopt: held back
  };
  const Row rows[] = {
      {5000, 0},             // the first line always passes
      {5001, std::nullopt},  //
      {6000, std::nullopt},  // exactly one interval later is still too early
      {6001, 2},             // passes and reports the two held back
      {6002, std::nullopt},  //
      {9000, 1},             // a long pause: passes with the one held back before it
      {12000, 0},            // nothing held back in between
      // The tick count wraps between two lines: 0xFFFFFF00 to 0x2E0 is 992 ms.
      {0xFFFFFF00, 0},
      {0x2E0, std::nullopt},
      {0x2F0, 1},
  };
  LineRateLimit limit(kRepeatedLineInterval);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.at);
    EXPECT_EQ(limit.pass(row.at), row.expected);
  }
}

TEST(LineRateLimit, HubWritesTheCountAfterTheNextLineLetThrough) {
  HubTestBed bed;
  LineRateLimit limit;
  constexpr int kRepeats = 5;
  for (int i = 0; i < kRepeats; ++i) {
    bed.logger->logLimited(limit, "REPEATED");
  }
  EXPECT_EQ(bed.linesEndingWith(" REPEATED"), 1);
  EXPECT_EQ(bed.log().find("left out"), std::string::npos) << "nothing held back yet to report";

  bed.clock.advance(kRepeatedLineInterval + std::chrono::milliseconds(1));
  bed.logger->logLimited(limit, "REPEATED");
  EXPECT_EQ(bed.linesEndingWith(" REPEATED"), 2);
  const std::string log = bed.log();
  const auto second = log.rfind(" REPEATED\r\n");
  const auto count = log.find(" 4 similar lines left out\r\n");
  ASSERT_NE(count, std::string::npos) << log;
  EXPECT_LT(second, count) << "the count follows the line it belongs to";
}

}  // namespace
}  // namespace korvane::hub
