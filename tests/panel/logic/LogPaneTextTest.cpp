#include "panel/logic/LogPaneText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

constexpr std::size_t kLimit = LogPaneText::kTextLimit;

TEST(LogPaneText, StaysBelowTheLimitAndStartsAtALine) {
  LogPaneText pane;
  std::u16string stream;  // everything appended, as the pane shows it
  for (int i = 0; i < 3000; ++i) {
    // Lines of 1 to 400 characters, one of them longer than the whole pane.
    std::string line = "line " + std::to_string(i) + std::string((i * 37) % 400, 'x');
    if (i == 1500) {
      line = std::string(kLimit + 10, 'L');
    }
    pane.append(line + "\r\n");
    stream += std::u16string(line.begin(), line.end()) + u"\n";
    const std::u16string& text = pane.text();
    ASSERT_LT(text.size(), kLimit) << i;
    ASSERT_TRUE(stream.ends_with(text)) << i;
    if (!text.empty() && text.size() < stream.size()) {
      ASSERT_EQ(stream[stream.size() - text.size() - 1], u'\n') << i;
    }
  }
  EXPECT_GT(pane.text().size(), kLimit - 500);
}

TEST(LogPaneText, TrimsAtTheFirstLineFeedFromTheLimit) {
  struct Row {
    const char* what;
    std::vector<std::size_t> lines;  // characters of each line before its line feed
    std::size_t tail;                // characters after the last line feed
    std::size_t kept;
  };
  const std::vector<Row> rows = {
      {"one below the limit is kept whole", {10, kLimit - 13}, 0, kLimit - 1},
      {"reaching the limit drops the first line", {10, kLimit - 12}, 0, kLimit - 11},
      {"a line feed at the cut position is the one cut after", {2, kLimit - 2}, 0, kLimit - 1},
      {"the line across the cut position goes whole", {5, 20, kLimit - 20}, 0, kLimit - 19},
      {"no line feed after the cut leaves nothing", {3}, kLimit, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string text;
    for (std::size_t length : row.lines) {
      text += std::string(length, 'a') + "\n";
    }
    text += std::string(row.tail, 't');
    LogPaneText pane;
    pane.append(text);
    EXPECT_EQ(pane.text().size(), row.kept);
  }
}

TEST(LogPaneText, DecodesUtf8AcrossPieces) {
  struct Row {
    const char* what;
    std::vector<std::string> pieces;
    std::u16string expected;
  };
  const std::vector<Row> rows = {
      {"carriage returns dropped", {"a\r\nb\r\n"}, u"a\nb\n"},
      {"two-byte letter split", {"caf\xC3", "\xA9\n"}, u"caf\u00e9\n"},
      {"three-byte letter in three pieces", {"\xE3", "\x83", "\x8F!"}, u"\u30cf!"},
      {"four-byte letter as a surrogate pair", {"\xF0\x9F", "\x98\x80"}, u"\U0001F600"},
      {"stray continuation byte", {"a\x80z"}, u"a\ufffdz"},
      {"lead byte without its continuation", {"\xC3z"}, u"\ufffdz"},
      {"overlong form", {"\xC0\xAF"}, u"\ufffd\ufffd"},
      {"encoded surrogate", {"\xED\xA0\x80"}, u"\ufffd\ufffd\ufffd"},
      {"unfinished letter at the end waits", {"ok\xE3\x83"}, u"ok"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LogPaneText pane;
    for (const std::string& piece : row.pieces) {
      pane.append(piece);
    }
    EXPECT_EQ(pane.text(), row.expected);
  }
}

TEST(LogPaneText, TakesTenPiecesPerTick) {
  testing::TempProgramDir dir;
  HubLogReader reader(dir.path() + "log/", 9);
  LogPaneText pane;
  EXPECT_FALSE(pane.follow(reader));
  const std::size_t piece = LogPaneText::kPieceBytes - 1;
  const std::size_t perTick = piece * LogPaneText::kPiecesPerTick;
  testing::writeFile(dir.log("0009_1.log"), std::string(perTick * 2 + 7, 'q'));
  EXPECT_TRUE(pane.follow(reader));
  EXPECT_EQ(pane.text().size(), perTick);
  EXPECT_TRUE(pane.follow(reader));
  EXPECT_EQ(pane.text().size(), perTick * 2);
  EXPECT_TRUE(pane.follow(reader));
  EXPECT_EQ(pane.text().size(), perTick * 2 + 7);
  EXPECT_FALSE(pane.follow(reader));
}

}  // namespace
}  // namespace korvane::panel
