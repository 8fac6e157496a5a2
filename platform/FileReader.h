#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::platform {

/// A regular file opened for reading from start to end while another process may write, empty
/// or delete it (a hub's log that the panel follows). Every read takes at most the bytes asked
/// for and never waits for more to come.
class FileReader {
 public:
  /// Opens the regular file at `path` (a link to one is fine); empty with "open: reason" or
  /// "PATH: not a regular file" in `err`. A FIFO in the file's place never holds the call.
  [[nodiscard]] static std::optional<FileReader> open(const std::string& path, std::string* err);

  FileReader(FileReader&& other) noexcept;
  FileReader& operator=(FileReader&& other) noexcept;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  /// Reads at most `buffer.size()` bytes from the current position: their number, 0 at the end
  /// of the file, empty with "read: reason" in `err` when the read fails.
  [[nodiscard]] std::optional<std::size_t> read(std::span<char> buffer, std::string* err);

  /// The byte offset the next read starts at.
  std::uint64_t position() const { return position_; }

  /// The file's size now; empty when it cannot be examined.
  std::optional<std::uint64_t> size() const;

  /// What tells this file from another that later takes its name (its inode).
  std::uint64_t identity() const { return identity_; }

  /// Makes the next read start at the beginning again.
  void rewind() { position_ = 0; }

 private:
  explicit FileReader(int fd) : fd_(fd) {}

  int fd_ = -1;
  std::uint64_t identity_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace korvane::platform
