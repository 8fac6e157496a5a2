#include "platform/WholeFile.h"

#include <unistd.h>

#include <cerrno>

#include "platform/linux/Errno.h"
#include "platform/linux/FileReplacement.h"

namespace korvane::platform {

ReadOutcome readWholeFile(const std::string& path, std::string* content, std::string* err) {
  return readFileContent(path, content, err);
}

bool replaceWholeFile(const std::string& path, std::string_view content, std::string* err,
                      const Clock& clock) {
  FileReplacement replacement(path, clock);
  if (replacement.lockFolder(err) != FolderLock::kHeld) {
    return false;
  }
  return replacement.replace(content, err);
}

bool removeFile(const std::string& path, std::string* err) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return failWithErrno("unlink", err);
  }
  return true;
}

}  // namespace korvane::platform
