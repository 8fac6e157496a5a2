#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileReader.h"

namespace korvane::panel {

/// Follows a hub's rotating log, "NNNN_1.log" and "NNNN_2.log" in the log folder, for the status
/// window: it reads the file it is in until that file has nothing more, then looks at the other
/// one, and stays in whichever gave text. A file the hub empties to write it anew is read again
/// from its start.
class HubLogReader {
 public:
  /// The piece size in which the text already in the files is passed over when the reader
  /// starts; a piece is cheap, so the size only matters for the number of calls.
  static constexpr std::size_t kSkipPieceBytes = 255;
  /// The most that passing over the existing text reads: both files at their largest (1,000,000
  /// bytes each) and twice as much again for what a busy hub writes meanwhile, so a hub that
  /// writes faster than we read cannot hold the window's opening for ever.
  static constexpr std::uint64_t kMaxSkipBytes = 4'000'000;

  /// A reader of hub `hubNumber`'s files in `logDirectory` (ending in '/'); opens nothing yet.
  HubLogReader(const std::string& logDirectory, int hubNumber);

  /// The next text the hub wrote, at most `maxBytes` - 1 bytes; empty when there is none (or the
  /// reader was closed).
  std::string read(std::size_t maxBytes);

  /// Passes over everything the files hold now, so that only text written later is read.
  void skipExisting();

  /// Closes both files; every later read gives nothing.
  void close();

 private:
  struct LogFile {
    std::string path;
    std::optional<platform::FileReader> reader;
  };

  std::string readFile(LogFile& file, std::size_t maxBytes);
  std::optional<std::string> readPiece(LogFile& file, std::size_t maxBytes);
  bool atEndStays(LogFile& file);

  std::array<LogFile, 2> files_;
  std::size_t current_ = 0;
  bool closing_ = false;
};

}  // namespace korvane::panel
