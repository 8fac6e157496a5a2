#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/Clock.h"
#include "platform/WholeFile.h"

// Linux only: the machinery that the profile-file writers and the whole-file writers share, so
// that both replace files in one way and under one lock. Only platform/linux/*.cpp include it.
namespace korvane::platform {

/// How the wait for a folder's lock ended.
enum class FolderLock {
  kHeld,      ///< the lock is held until the FileReplacement ends
  kNoFolder,  ///< the folder does not exist
  kFailed,    ///< the folder could not be opened or locked, or another process held the lock
};

/// One replacement of the file at a path: the exclusive lock of the file's folder, which every
/// writer of a file in that folder holds from reading the old content to renaming the new one
/// (so two writers, in any processes, never lose each other's change), and the atomic
/// replacement of the content while that lock is held.
class FileReplacement {
 public:
  /// A replacement of `path` whose wait for the folder lock is timed by `clock`.
  explicit FileReplacement(std::string path, const Clock& clock = systemClock())
      : path_(std::move(path)), clock_(clock) {}
  /// Releases the folder lock.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// Opens the file's folder and waits for its exclusive lock, at most kFolderLockDeadline;
  /// kNoFolder or kFailed with "open: ...", "flock: ..." or "flock FOLDER: the folder is locked
  /// by another process (waited 10 s)" in `err` when it does not get it.
  [[nodiscard]] FolderLock lockFolder(std::string* err);

  /// Puts `content` in place of the file in one rename (a new file gets owner and group read and
  /// write; an existing one keeps its permission bits but those for others), after lockFolder
  /// succeeded. False with "call: reason" in `err` ("rename: Is a directory"); the file is then
  /// unchanged and no temporary file remains.
  [[nodiscard]] bool replace(std::string_view content, std::string* err);

 private:
  std::string path_;
  const Clock& clock_;
  // The open folder, whose descriptor holds the lock; -1 until lockFolder succeeds.
  int folder_ = -1;
};

/// The content of the regular file at `path` (kRead); kMissing with an empty content when it
/// does not exist; kFailed with an empty content and "open: ...", "read: ...", "PATH: not a
/// regular file" or "PATH: larger than 4 MiB" in `err` otherwise. Never waits for a writer.
[[nodiscard]] ReadOutcome readFileContent(const std::string& path, std::string* content,
                                          std::string* err);

}  // namespace korvane::platform
