#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/WholeFile.h"
#include "tests/support/ManualClock.h"
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
  EXPECT_EQ(err, dir.path() + "ini: not a regular file");
}

TEST(WholeFile, ReadRefusesWhatIsNotARegularFileAtOnce) {
  TempProgramDir dir;
  // Someone who can write the folder puts these in a file's place: a FIFO would hold the reader
  // in open until a writer comes, /dev/zero would fill its memory.
  const std::string fifo = dir.ini("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string zero = dir.ini("zero.ini");
  std::filesystem::create_symlink("/dev/zero", zero);
  const std::string folder = dir.ini("folder.ini");
  std::filesystem::create_directory(folder);
  for (const std::string& path : {fifo, zero, folder}) {
    SCOPED_TRACE(path);
    std::string content = "stale";
    std::string err;
    EXPECT_EQ(readWholeFile(path, &content, &err), ReadOutcome::kFailed);
    EXPECT_EQ(err, path + ": not a regular file");
    EXPECT_TRUE(content.empty());
  }
  // A link to a regular file is read like the file.
  writeFile(dir.ini("real.ini"), "[S]\r\n");
  std::filesystem::create_symlink(dir.ini("real.ini"), dir.ini("link.ini"));
  std::string content;
  std::string err;
  EXPECT_EQ(readWholeFile(dir.ini("link.ini"), &content, &err), ReadOutcome::kRead) << err;
  EXPECT_EQ(content, "[S]\r\n");
}

TEST(WholeFile, ReadRefusesFilesOverTheLimit) {
  TempProgramDir dir;
  writeFile(dir.ini("largest.ini"), std::string(kMaxReadFileBytes, 'x'));
  writeFile(dir.ini("larger.ini"), std::string(kMaxReadFileBytes + 1, 'x'));
  std::string content;
  std::string err;
  EXPECT_EQ(readWholeFile(dir.ini("largest.ini"), &content, &err), ReadOutcome::kRead) << err;
  EXPECT_EQ(content.size(), kMaxReadFileBytes);
  EXPECT_EQ(readWholeFile(dir.ini("larger.ini"), &content, &err), ReadOutcome::kFailed);
  EXPECT_EQ(err, dir.ini("larger.ini") + ": larger than 4 MiB");
  EXPECT_TRUE(content.empty());
}

TEST(WholeFile, ReplaceNeverLeavesAFileReadableByOthers) {
  TempProgramDir dir;
  namespace fs = std::filesystem;
  // Account and DHCP files hold passwords and network keys. Even with no umask to narrow it, a
  // new file is its owner's and group's only.
  const mode_t mask = ::umask(0);
  std::string err;
  const bool written = replaceWholeFile(dir.ini("0001_account.ini"), "new", &err);
  ::umask(mask);
  ASSERT_TRUE(written) << err;
  EXPECT_EQ(fs::status(dir.ini("0001_account.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::group_write);
  // A file that an earlier version left open to others is closed to them by its next rewrite.
  const std::string old = dir.ini("0001_dhcp.ini");
  writeFile(old, "old");
  fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::others_read | fs::perms::others_write);
  ASSERT_TRUE(replaceWholeFile(old, "new", &err)) << err;
  EXPECT_EQ(fs::status(old).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(WholeFile, WriteGivesUpWhenTheFolderStaysLocked) {
  TempProgramDir dir;
  // Another open description of the folder conflicts like another process's would.
  const int folder = ::open((dir.path() + "ini").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  korvane::testing::ManualClock clock;
  std::string err;
  EXPECT_FALSE(replaceWholeFile(dir.ini("a.ini"), "x", &err, clock));
  EXPECT_EQ(err,
            "flock " + dir.path() + "ini: the folder is locked by another process (waited 10 s)");
  EXPECT_GE(clock.tickCount(), kFolderLockDeadline.count());
  EXPECT_LT(clock.tickCount(), kFolderLockDeadline.count() + 1000) << "it gives up at the deadline";
  EXPECT_FALSE(std::filesystem::exists(dir.ini("a.ini")));
  // Once the lock is free the write goes through.
  ::close(folder);
  EXPECT_TRUE(replaceWholeFile(dir.ini("a.ini"), "x", &err, clock)) << err;
  EXPECT_TRUE(onlyFile(dir.path() + "ini", "a.ini"));
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
