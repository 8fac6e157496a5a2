#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "tests/support/TempProgramDir.h"
#include "updater/UpdaterMessages.h"

namespace korvane::updater {
namespace {

TEST(UpdaterMessages, BackslashNBecomesALineBreak) {
  testing::TempProgramDir dir;
  const std::string path = dir.path() + "VintrellMessages.ini";
  testing::writeFile(path, "[MESSAGES]\n108=Cannot open\\n%s\n109=one\\ntwo\\nthree\n");
  std::ostringstream out;
  const UpdaterMessages messages(path, out);

  messages.show(108, {"/tmp/package.deb"});

  EXPECT_EQ(out.str(), "Korvane 2 updater program: Cannot open\n/tmp/package.deb\n");
  EXPECT_EQ(messages.text(109), "one\ntwo\nthree");
  EXPECT_EQ(messages.text(110), "");
  EXPECT_EQ(UpdaterMessages(dir.path() + "missing.ini", out).text(108), "");
}

TEST(UpdaterMessages, FillsOnlyTheArgumentsItHas) {
  struct Row {
    const char* format;
    std::vector<std::string> args;
    const char* filled;
  } const rows[] = {
      {"code %d in %s", {"2", "/opt"}, "code 2 in /opt"},
      {"100%% done", {}, "100% done"},
      // A text that expects more arguments than the message has reads none that are not there.
      {"%s and %s and %d", {"one"}, "one and  and "},
      {"%x %n %p %", {"unused"}, "%x %n %p %"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.format);
    EXPECT_EQ(fillMessage(row.format, row.args), row.filled);
  }
}

TEST(UpdaterMessages, ShippedFileHasEveryMessageWithItsArguments) {
  const UpdaterMessages messages(std::string(KORVANE_SOURCE_DIR) + "updater/VintrellMessages.ini",
                                 std::cerr);
  struct Row {
    int number;
    int arguments;
  } const rows[] = {{101, 0}, {103, 4}, {104, 1}, {105, 0}, {106, 0}, {107, 0},
                    {108, 1}, {109, 0}, {110, 0}, {112, 1}, {113, 2}, {114, 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.number);
    const std::string text = messages.text(row.number);
    EXPECT_FALSE(text.empty());
    int directives = 0;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) {
      ++directives;
    }
    EXPECT_EQ(directives, row.arguments) << text;
  }
}

}  // namespace
}  // namespace korvane::updater
