#pragma once

#include <optional>
#include <string>
#include <string_view>

/// Whole files read and written in one piece, for the files that a program writes anew on every
/// save (the account and filter files, CSV exports). A write replaces the file atomically, in
/// the same way and under the same folder lock as the profile-file writers, so a reader in
/// another process sees the old content or the new one, never a mixture.
namespace korvane::platform {

/// How reading a whole file ended.
enum class ReadOutcome {
  kRead,     ///< the content was read
  kMissing,  ///< there is no file at the path
  kFailed,   ///< the file exists but cannot be read
};

/// The content of the file at `path` in `content` (kRead); kMissing with an empty content when
/// it does not exist; kFailed with a message in `err` ("open: Permission denied") otherwise.
[[nodiscard]] ReadOutcome readWholeFile(const std::string& path, std::string* content,
                                        std::string* err);

/// Replaces the file at `path` by `content` (creating it; an existing file keeps its permission
/// bits): a temporary file in the same folder, flushed to disk, renamed over the old one. False
/// with a message in `err` when that fails; the old file is then unchanged and no temporary file
/// remains. The folder must exist.
[[nodiscard]] bool replaceWholeFile(const std::string& path, std::string_view content,
                                    std::string* err);

/// Deletes the file at `path`. Deleting a file that is not there succeeds.
[[nodiscard]] bool removeFile(const std::string& path, std::string* err);

}  // namespace korvane::platform
