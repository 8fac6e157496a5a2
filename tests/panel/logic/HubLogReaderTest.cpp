#include "panel/logic/HubLogReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hub/RotatingLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using testing::TempProgramDir;
using testing::writeFile;

constexpr std::size_t kPiece = 1024;

void appendFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

// Everything the reader has now, read in pieces of `piece` bytes (bounded like the pane).
std::string drain(HubLogReader& reader, std::size_t piece = kPiece) {
  std::string all;
  for (int i = 0; i < 10'000; ++i) {
    const std::string text = reader.read(piece);
    if (text.empty()) {
      break;
    }
    EXPECT_LE(text.size(), piece - 1);
    all += text;
  }
  return all;
}

TEST(HubLogReader, ReadsOnlyWhatFollowsTheSkip) {
  TempProgramDir dir;
  writeFile(dir.log("0003_1.log"), std::string(5000, 'o') + "\r\n");
  writeFile(dir.log("0003_2.log"), "older\r\n");
  HubLogReader reader(dir.path() + "log/", 3);
  reader.skipExisting();
  EXPECT_EQ(reader.read(kPiece), "");
  appendFile(dir.log("0003_1.log"), "new line\r\n");
  EXPECT_EQ(drain(reader), "new line\r\n");
  // Another hub's files are not ours.
  writeFile(dir.log("0030_1.log"), "other hub\r\n");
  EXPECT_EQ(reader.read(kPiece), "");
}

TEST(HubLogReader, PiecesStayBelowTheAskedSize) {
  TempProgramDir dir;
  HubLogReader reader(dir.path() + "log/", 1);
  EXPECT_EQ(reader.read(kPiece), "");  // no file yet
  const std::string text(3000, 'a');
  writeFile(dir.log("0001_1.log"), text);
  EXPECT_EQ(reader.read(256).size(), 255u);
  EXPECT_EQ(reader.read(1), "");  // no room for a byte
  EXPECT_EQ(drain(reader, 100), text.substr(255));
}

// The hub's own log, rotating between its two small files, is followed without a gap while
// the reader keeps up: every line shows once, in order.
TEST(HubLogReader, FollowsTheHubsRotation) {
  TempProgramDir dir;
  testing::ManualClock clock;
  hub::RotatingLog log(dir.path() + "log/0001", clock, 300);
  HubLogReader reader(dir.path() + "log/", 1);
  std::string written;
  std::string read;
  for (int i = 0; i < 60; ++i) {
    const std::string text = "line " + std::to_string(i) + std::string(i % 7 * 5, '-');
    ASSERT_TRUE(log.writeLine(text));
    written += "2024/01/31 12:00:00.000 " + text + "\r\n";
    if (i % 2 == 0) {
      read += drain(reader, 64);
    }
  }
  read += drain(reader, 64);
  EXPECT_EQ(read, written);
  EXPECT_GT(std::filesystem::file_size(dir.log("0001_2.log")), 0u);
}

TEST(HubLogReader, FileWrittenAnewIsReadFromItsStart) {
  struct Row {
    const char* what;
    bool replaceFile;  // removed and made again rather than emptied in place
    std::string newText;
  };
  const std::vector<Row> rows = {
      {"emptied and shorter", false, "short\r\n"},
      {"removed and made again, longer", true, std::string(200, 'n') + "\r\n"},
      {"removed and made again, shorter", true, "s\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempProgramDir dir;
    const std::string path = dir.log("0002_1.log");
    writeFile(path, std::string(100, 'x') + "\r\n");
    HubLogReader reader(dir.path() + "log/", 2);
    EXPECT_EQ(drain(reader).size(), 102u);
    if (row.replaceFile) {
      std::filesystem::remove(path);
    }
    writeFile(path, row.newText);
    EXPECT_EQ(drain(reader), row.newText);
  }
}

TEST(HubLogReader, MissingFileIsOpenedWhenItComesBack) {
  TempProgramDir dir;
  const std::string path = dir.log("0004_2.log");
  writeFile(path, "first\r\n");
  HubLogReader reader(dir.path() + "log/", 4);
  EXPECT_EQ(drain(reader), "first\r\n");
  std::filesystem::remove(path);
  EXPECT_EQ(reader.read(kPiece), "");
  writeFile(path, "second\r\n");
  EXPECT_EQ(drain(reader), "second\r\n");
}

TEST(HubLogReader, ClosedReaderReadsNothing) {
  TempProgramDir dir;
  writeFile(dir.log("0005_1.log"), "text\r\n");
  HubLogReader reader(dir.path() + "log/", 5);
  reader.close();
  EXPECT_EQ(reader.read(kPiece), "");
}

TEST(HubLogReader, SkipIsBounded) {
  TempProgramDir dir;
  const std::size_t size = HubLogReader::kMaxSkipBytes + 10'000;
  writeFile(dir.log("0006_1.log"), std::string(size, 'z'));
  HubLogReader reader(dir.path() + "log/", 6);
  reader.skipExisting();
  const std::string rest = drain(reader, 100'000);
  EXPECT_GT(rest.size(), 0u);
  EXPECT_LT(rest.size(), 10'000u + HubLogReader::kSkipPieceBytes);
}

}  // namespace
}  // namespace korvane::panel
