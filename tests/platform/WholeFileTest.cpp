#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/WholeFile.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::platform {
namespace {

using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

bool onlyFile(const std::string& folder, const std::string& name) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() != name) {
      return false;
    }
    ++count;
  }
  return count == 1;
}

TEST(WholeFile, ReplaceCreatesAndReplaces) {
  TempProgramDir dir;
  const std::string path = dir.ini("a.ini");
  std::string err;
  ASSERT_TRUE(replaceWholeFile(path, "first\r\n", &err)) << err;
  EXPECT_EQ(readFile(path), "first\r\n");
  ASSERT_TRUE(replaceWholeFile(path, std::string("second\0", 7), &err)) << err;
  EXPECT_EQ(readFile(path), std::string("second\0", 7));
  EXPECT_TRUE(onlyFile(dir.path() + "ini", "a.ini"));
}

TEST(WholeFile, ReplaceKeepsPermissionBits) {
  TempProgramDir dir;
  const std::string path = dir.ini("a.ini");
  writeFile(path, "old");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  std::string err;
  ASSERT_TRUE(replaceWholeFile(path, "new", &err)) << err;
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

TEST(WholeFile, ReplaceIntoMissingFolderFailsAndLeavesNothing) {
  TempProgramDir dir;
  std::string err;
  EXPECT_FALSE(replaceWholeFile(dir.path() + "missing/a.ini", "x", &err));
  EXPECT_NE(err.find("open"), std::string::npos) << err;
  // A file whose rename fails (a folder stands in its place) leaves no temporary file behind.
  const std::string blocked = dir.ini("blocked");
  std::filesystem::create_directory(blocked);
  std::filesystem::create_directory(blocked + "/inside");
  EXPECT_FALSE(replaceWholeFile(blocked, "x", &err));
  EXPECT_NE(err.find("rename"), std::string::npos) << err;
  EXPECT_TRUE(onlyFile(dir.path() + "ini", "blocked"));
}

TEST(WholeFile, ReadTellsMissingFromUnreadable) {
  TempProgramDir dir;
  std::string content = "stale";
  std::string err;
  EXPECT_EQ(readWholeFile(dir.ini("missing"), &content, &err), ReadOutcome::kMissing);
  EXPECT_TRUE(content.empty());
  writeFile(dir.ini("present"), "text\r\n");
  EXPECT_EQ(readWholeFile(dir.ini("present"), &content, &err), ReadOutcome::kRead);
  EXPECT_EQ(content, "text\r\n");
  EXPECT_EQ(readWholeFile(dir.path() + "ini", &content, &err), ReadOutcome::kFailed);
  EXPECT_NE(err.find("read"), std::string::npos) << err;
}

TEST(WholeFile, RemoveSucceedsForMissingFiles) {
  TempProgramDir dir;
  writeFile(dir.ini("a"), "x");
  std::string err;
  EXPECT_TRUE(removeFile(dir.ini("a"), &err)) << err;
  EXPECT_FALSE(std::filesystem::exists(dir.ini("a")));
  EXPECT_TRUE(removeFile(dir.ini("a"), &err)) << err;
}

}  // namespace
}  // namespace korvane::platform
