#include "platform/FileReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/TempProgramDir.h"

namespace korvane::platform {
namespace {

TEST(FileReader, RefusesWhatIsNoRegularFile) {
  testing::TempProgramDir dir;
  const std::string fifo = dir.log("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    std::string path;
    std::string error;
  };
  const Row rows[] = {
      {fifo, fifo + ": not a regular file"},  // and the open did not wait for a writer
      {"/dev/zero", "/dev/zero: not a regular file"},
      {dir.log("missing"), "open: No such file or directory"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    std::string err;
    EXPECT_FALSE(FileReader::open(row.path, &err));
    EXPECT_EQ(err, row.error);
  }
}

TEST(FileReader, ReadsInBoundedPiecesAndRewinds) {
  testing::TempProgramDir dir;
  testing::writeFile(dir.log("f"), "abcdef");
  std::string err;
  auto reader = FileReader::open(dir.log("f"), &err);
  ASSERT_TRUE(reader) << err;
  char buffer[4];
  EXPECT_EQ(reader->read(buffer, &err), 4u);
  EXPECT_EQ(reader->read(buffer, &err), 2u);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(reader->read(buffer, &err), 0u);
  EXPECT_EQ(reader->position(), 6u);
  EXPECT_EQ(reader->size(), 6u);
  reader->rewind();
  EXPECT_EQ(reader->read(buffer, &err), 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

}  // namespace
}  // namespace korvane::platform
