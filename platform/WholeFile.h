#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

/// Whole files read and written in one piece, for the files that a program writes anew on every
/// save (the account and filter files, CSV exports). A write replaces the file atomically, in
/// the same way and under the same folder lock as the profile-file writers, so a reader in
/// another process sees the old content or the new one, never a mixture.
namespace korvane::platform {

/// The largest file that is read: every file the system reads is far smaller (a hub's 1000
/// accounts with their sealed names and passwords take under 1 MiB), so a larger one is not
/// one of its files, and reading it would only fill the memory.
inline constexpr std::size_t kMaxReadFileBytes = 4 * 1024 * 1024;

/// The longest wait for a folder's lock before a write gives up: an honest writer holds it to
/// read, write and flush one file of at most kMaxReadFileBytes, well under a second even on a
/// slow disk, so a longer hold is a stuck or hostile process, not one to wait for.
inline constexpr std::chrono::milliseconds kFolderLockDeadline{10'000};

/// How reading a whole file ended.
enum class ReadOutcome {
  kRead,     ///< the content was read
  kMissing,  ///< there is no file at the path
  kFailed,   ///< the file exists but cannot be read
};

/// The content of the file at `path` in `content` (kRead); kMissing with an empty content when
/// it does not exist; kFailed with a message in `err` ("open: Permission denied", "PATH: not a
/// regular file", "PATH: larger than 4 MiB") otherwise. Only a regular file (or a link to one) of
/// at most kMaxReadFileBytes is read, and a FIFO in its place never makes the reader wait.
[[nodiscard]] ReadOutcome readWholeFile(const std::string& path, std::string* content,
                                        std::string* err);

/// Replaces the file at `path` by `content`: a temporary file in the same folder, flushed to
/// disk, renamed over the old one. The file is never readable by others than its owner and group
/// (it may hold passwords or keys): a new one gets read and write for both, an existing one keeps
/// its permission bits but those for others. False with a message in `err` when that fails (the
/// folder stays locked by another writer beyond kFolderLockDeadline, measured by `clock`); the
/// old file is then unchanged and no temporary file remains. The folder must exist.
[[nodiscard]] bool replaceWholeFile(const std::string& path, std::string_view content,
                                    std::string* err, const Clock& clock = systemClock());

/// Deletes the file at `path`. Deleting a file that is not there succeeds.
[[nodiscard]] bool removeFile(const std::string& path, std::string* err);

}  // namespace korvane::platform
