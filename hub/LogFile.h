#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::hub {

/// One log file kept open between lines and written without a buffer, so that other processes
/// see every line as soon as it is written and a line reaches the file whole or not at all.
class LogFile {
 public:
  /// Whether opening keeps what the file holds or empties it first.
  enum class Mode { kKeep, kTruncate };

  /// Opens `path` for writing at its end, creating it when missing (and emptying it with
  /// kTruncate); any file open before is closed first. False when the file cannot be opened.
  [[nodiscard]] bool open(const std::string& path, Mode mode);

  bool isOpen() const { return file_ != nullptr; }

  /// The size of the open file in bytes; nullopt when no file is open or the query fails.
  std::optional<std::uint64_t> size();

  /// Writes `bytes` at the end of the open file. False when nothing is open or the write fails;
  /// a write that stopped half-way is cut off again, so no partial line stays behind.
  [[nodiscard]] bool append(std::string_view bytes);

  /// Closes the file; does nothing when none is open.
  void close();

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
};

}  // namespace korvane::hub
