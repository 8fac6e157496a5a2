#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "hub/ThreadCatchAll.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

constexpr const char* kBanner =
    "***********************************\r\n"
    "        Catch Exception            \r\n"
    "***********************************\r\n";

// Each line of the log is "yyyy/mm/dd hh:mm:ss.mmm text"; the texts alone.
std::string textsOf(const std::string& log) {
  constexpr std::size_t kStampSize = 24;
  std::string texts;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos) {
      break;
    }
    texts += log.substr(at + kStampSize, end - at - kStampSize) + "\r\n";
    at = end + 2;
  }
  return texts;
}

TEST(ThreadCatchAll, FailedThreadLogsItsBannerAndEndsTheHub) {
  // The child forks off this process, so it writes into this test's log.
  ::testing::FLAGS_gtest_death_test_style = "fast";
  struct Row {
    const char* what;
    common::ThreadProgress progress;
    bool marked;
    std::string lines;
  };
  Row rows[] = {
      {"port thread", common::ThreadProgress("PortThread"), true,
       std::string(kBanner) + "Catch Exception in PortThread\r\niStepNo = 1300\r\n"},
      {"health thread", common::ThreadProgress("HealthThread"), false,
       std::string(kBanner) + "Catch Exception in HealthThread\r\nclock broke\r\n"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    HubTestBed bed;
    const common::ThreadFailureHandler handler = endHubOnThreadFailure(bed.logger);
    if (row.marked) {
      row.progress.mark(1300);
    }
    EXPECT_EXIT(common::runThread(
                    row.progress, [] { throw std::runtime_error("clock broke"); }, handler),
                ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(textsOf(bed.log()), row.lines);
  }
}

}  // namespace
}  // namespace korvane::hub
