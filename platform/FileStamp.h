#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvane::platform {

/// What tells one version of a file from the next: its last-write time and its identity. Every
/// writer of the system replaces a file by renaming a new one over it, so a write that falls in
/// the same clock tick as the one before still changes the identity.
struct FileStamp {
  std::int64_t modifiedNanoseconds = 0;  ///< last write, since 1970-01-01 UTC
  std::uint64_t identity = 0;            ///< the file's inode
  bool operator==(const FileStamp&) const = default;
};

/// The stamp of the file at `path` (a link is followed); empty when it does not exist or cannot
/// be examined.
std::optional<FileStamp> fileStamp(const std::string& path);

}  // namespace korvane::platform
