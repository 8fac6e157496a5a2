#include "panel/logic/HubLogReader.h"

#include <cstdio>

namespace korvane::panel {
namespace {

std::string logFilePath(const std::string& logDirectory, int hubNumber, int fileNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d_%d.log", hubNumber, fileNumber);
  return logDirectory + name;
}

}  // namespace

HubLogReader::HubLogReader(const std::string& logDirectory, int hubNumber) {
  files_[0].path = logFilePath(logDirectory, hubNumber, 1);
  files_[1].path = logFilePath(logDirectory, hubNumber, 2);
}

std::string HubLogReader::read(std::size_t maxBytes) {
  if (closing_ || maxBytes < 2) {
    return {};
  }
  std::string text = readFile(files_[current_], maxBytes);
  if (!text.empty()) {
    return text;
  }
  const std::size_t other = 1 - current_;
  text = readFile(files_[other], maxBytes);
  if (!text.empty()) {
    current_ = other;
  }
  return text;
}

void HubLogReader::skipExisting() {
  std::uint64_t skipped = 0;
  while (skipped < kMaxSkipBytes) {
    const std::string piece = read(kSkipPieceBytes);
    if (piece.empty()) {
      return;
    }
    skipped += piece.size();
  }
}

void HubLogReader::close() {
  closing_ = true;
  for (LogFile& file : files_) {
    file.reader.reset();
  }
}

// One piece from `file`, or nothing. A failed read drops the handle and tries once more with a
// fresh one; a file that was emptied and written anew is read once more from its start.
std::string HubLogReader::readFile(LogFile& file, std::size_t maxBytes) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::optional<std::string> piece = readPiece(file, maxBytes);
    if (!piece) {
      continue;
    }
    if (!piece->empty() || !file.reader || atEndStays(file)) {
      return *piece;
    }
  }
  return {};
}

// The bytes at the file's position: empty at its end or when it cannot be opened, nullopt when
// the read failed (the handle is then dropped).
std::optional<std::string> HubLogReader::readPiece(LogFile& file, std::size_t maxBytes) {
  std::string err;
  if (!file.reader) {
    file.reader = platform::FileReader::open(file.path, &err);
    if (!file.reader) {
      return std::string();
    }
  }
  std::string piece(maxBytes - 1, '\0');
  const std::optional<std::size_t> got = file.reader->read(piece, &err);
  if (!got) {
    file.reader.reset();
    return std::nullopt;
  }
  piece.resize(*got);
  return piece;
}

// At the end of `file`: true when the reader stays where it is (the file only has nothing new, or
// its name is gone, in which case the handle is let go so the next read opens it again); false
// when the next read should start over, because the file became shorter than what was read or
// its name now belongs to another file.
bool HubLogReader::atEndStays(LogFile& file) {
  std::string err;
  std::optional<platform::FileReader> byName = platform::FileReader::open(file.path, &err);
  if (!byName) {
    file.reader.reset();
    return true;
  }
  if (byName->identity() != file.reader->identity()) {
    file.reader = std::move(byName);
    return false;
  }
  const std::optional<std::uint64_t> size = file.reader->size();
  if (!size || *size >= file.reader->position()) {
    return true;
  }
  file.reader->rewind();
  return false;
}

}  // namespace korvane::panel
