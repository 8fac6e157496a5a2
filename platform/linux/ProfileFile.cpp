#include "platform/ProfileFile.h"

#include <optional>

#include "platform/ProfileText.h"
#include "platform/linux/FileReplacement.h"

namespace korvane::platform::profile {

namespace {

// The text of a profile for a reader: an unreadable file reads as an empty one, so every key
// takes its default, as a missing file does.
std::string readForReader(const std::string& path) {
  std::string text;
  std::string ignored;
  (void)readFileContent(path, &text, &ignored);
  return text;
}

// Reads, edits and replaces the file under the folder's lock; an edit that changes nothing
// writes nothing. Folders are never created: writing into a missing one fails, while removing
// from it succeeds, as there is no file to remove from.
bool rewrite(const std::string& path, const ProfileEdit& edit, std::string* err) {
  FileReplacement replacement(path);
  const FolderLock lock = replacement.lockFolder(err);
  if (lock == FolderLock::kFailed) {
    return false;
  }
  if (lock == FolderLock::kNoFolder) {
    const std::string lockError = *err;
    ProfileText nothing("");
    if (!edit(nothing, err)) {
      return false;
    }
    if (!nothing.text().empty()) {
      *err = lockError;
      return false;
    }
    return true;
  }
  std::string current;
  if (readFileContent(path, &current, err) == ReadOutcome::kFailed) {
    return false;
  }
  ProfileText profile(current);
  if (!edit(profile, err)) {
    return false;
  }
  if (profile.text() == current) {
    return true;
  }
  return replacement.replace(profile.text(), err);
}

// Applies changes that were checked before the lock was taken.
bool rewriteWith(const std::string& path, const std::vector<ProfileChange>& changes,
                 std::string* err) {
  return rewrite(
      path,
      [&](ProfileText& profile, std::string* editError) {
        return profile.apply(changes, editError);
      },
      err);
}

}  // namespace

std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::size_t bufferSize) {
  const std::optional<std::string> value = ProfileText(readForReader(path)).value(section, key);
  return cutToBuffer(value ? std::string_view(*value) : defaultValue, bufferSize);
}

std::vector<std::string> readSectionNames(const std::string& path, std::size_t bufferSize) {
  return fitToPackedBuffer(ProfileText(readForReader(path)).sectionNames(), bufferSize);
}

std::vector<std::string> readKeyNames(const std::string& path, std::string_view section,
                                      std::size_t bufferSize) {
  return fitToPackedBuffer(ProfileText(readForReader(path)).keyNames(section), bufferSize);
}

bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value, std::string* err) {
  if (!checkWritable(section, key, value, err)) {
    return false;
  }
  return rewriteWith(path, {ProfileChange::setValue(section, key, value)}, err);
}

bool deleteKey(const std::string& path, std::string_view section, std::string_view key,
               std::string* err) {
  return rewriteWith(path, {ProfileChange::removeKey(section, key)}, err);
}

bool deleteSection(const std::string& path, std::string_view section, std::string* err) {
  return rewriteWith(path, {ProfileChange::removeSection(section)}, err);
}

bool writeChanges(const std::string& path, const std::vector<ProfileChange>& changes,
                  std::string* err) {
  if (!checkChanges(changes, err)) {
    return false;
  }
  return rewriteWith(path, changes, err);
}

bool editFile(const std::string& path, const ProfileEdit& edit, std::string* err) {
  return rewrite(path, edit, err);
}

}  // namespace korvane::platform::profile
