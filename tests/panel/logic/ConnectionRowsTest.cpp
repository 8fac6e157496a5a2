#include "panel/logic/ConnectionRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "panel/logic/StatusWindowRules.h"

namespace korvane::panel {
namespace {

common::PortListEntry entry(std::int32_t state, std::string account, std::string address,
                            std::int32_t guest = 0) {
  common::PortListEntry e;
  e.state = state;
  e.logName = "[LAN] 127.0.0.1:5000";
  e.account = std::move(account);
  e.address = std::move(address);
  e.guest = guest;
  e.kilobytesReceived = 12;
  e.kilobytesSent = 3;
  return e;
}

TEST(ConnectionRows, ColumnTextsAndImages) {
  struct Row {
    const char* what;
    common::PortListEntry entry;
    char splitter;
    int image;
    std::string account;
    std::string domain;
    std::string address;
  };
  const std::vector<Row> rows = {
      {"not logged in", entry(0, "", ""), '@', 0, "(none)", "-Global-", "---.---.---.---"},
      {"admitted", entry(1, "", "10.0.0.9"), '@', 1, "(none)", "-Global-", "10.0.0.9"},
      {"logged in with a domain", entry(2, "ann@sales", "10.0.0.2"), '@', 2, "ann@sales",
       "sales", "10.0.0.2"},
      {"domain after the first splitter", entry(2, "a@b@c", ""), '@', 2, "a@b@c", "b@c",
       "---.---.---.---"},
      {"no splitter in the name", entry(2, "bob", "10.0.0.3"), '@', 2, "bob", "-Global-",
       "10.0.0.3"},
      {"no splitter set", entry(2, "ann\rx@y", ""), kNoDomainSplitter, 2, "ann\rx@y", "-Global-",
       "---.---.---.---"},
      {"guest over its state", entry(2, "guest", "", 1), '@', 3, "guest", "-Global-",
       "---.---.---.---"},
      {"unknown state", entry(7, "x", ""), '@', 0, "x", "-Global-", "---.---.---.---"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto result = connectionRows({row.entry}, row.splitter, "(none)");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].image, row.image);
    EXPECT_EQ(result[0].columns[0], "[LAN] 127.0.0.1:5000");
    EXPECT_EQ(result[0].columns[1], row.account);
    EXPECT_EQ(result[0].columns[2], row.domain);
    EXPECT_EQ(result[0].columns[3], "12 KB");  // received from the client
    EXPECT_EQ(result[0].columns[4], "3 KB");
    EXPECT_EQ(result[0].columns[5], row.address);
  }
}

TEST(ConnectionRows, StatusTexts) {
  EXPECT_EQ(countText("Connections", 0), "Connections : 0");
  EXPECT_EQ(statusWindowTitle("Office", " - status", 7470), "Office - status  (PortNo : 7470)");
}

TEST(StatusWindowRules, SplitterIsClamped) {
  struct Row {
    int top;
    int clientHeight;
    int expected;
  };
  const std::vector<Row> rows = {
      {250, 500, 250},
      {39, 500, 40},  // dragged above the top limit
      {-30, 500, 40},
      {441, 500, 440},  // below the room the log pane keeps
      {440, 500, 440},
      {50, 90, 30},  // a window too low for both: the log pane's room wins
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.top << " in " << row.clientHeight);
    EXPECT_EQ(clampSplitterTop(row.top, row.clientHeight), row.expected);
  }
}

TEST(StatusWindowRules, WindowIdsAreDistinctPositiveAndNeverABareProcessId) {
  const std::uint32_t pid = (1u << 22) - 1;  // the largest Linux process id
  WindowIdSource ids(pid);
  std::vector<std::uint32_t> seen;
  for (std::uint32_t i = 0; i < WindowIdSource::kCounterValues; ++i) {
    const std::uint32_t id = ids.next();
    EXPECT_LE(id, 0x7FFFFFFFu);
    EXPECT_NE(id, pid);
    EXPECT_EQ(id & pid, pid);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), id), 0);
    seen.push_back(id);
  }
  EXPECT_EQ(ids.next(), seen.front());  // the counter starts again
}

}  // namespace
}  // namespace korvane::panel
