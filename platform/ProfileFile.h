#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProfileText.h"

/// Reading and writing INI profile files with the semantics that every program of the system
/// relies on:
/// - section and key names compare case-insensitively; blanks around names and values are
///   trimmed; one pair of matching surrounding quotes ('...' or "...") is removed on read;
/// - the first of two sections with the same name wins, and so does the first of two keys;
/// - lines starting with ';' are comments;
/// - a value is cut to the caller's buffer size - 1 characters, as a C buffer would hold it;
/// - CR LF and LF line ends are both read; files are written with CR LF;
/// - writing a key replaces it in place, or appends it at the end of its section, creating the
///   section (at the end of the file) and the file as needed;
/// - a logical change of several keys or sections is one write (writeChanges, editFile), so a
///   reader sees all of it or none of it;
/// - every write replaces the whole file atomically (temporary file in the same folder, flush,
///   rename), under an exclusive lock of the folder, so a reader in another process never sees a
///   half-written file and two writers never lose each other's change.
namespace korvane::platform::profile {

/// The value of `key` in `section`, or `defaultValue` when the file, the section or the key is
/// missing (an unreadable file counts as missing); either way cut to `bufferSize` - 1 characters
/// (nothing at all for size 0).
std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::size_t bufferSize);

/// The names of all sections in file order, each once (a later duplicate is hidden by the first)
/// and without empty names (a packed list cannot hold them), as they would fit into a buffer of
/// `bufferSize` bytes that holds each name followed by a zero byte plus one final zero byte: when
/// the list does not fit, the last name is cut so that it and its two zero bytes end the buffer,
/// and names behind it are lost. A missing or unreadable file gives an empty list.
std::vector<std::string> readSectionNames(const std::string& path, std::size_t bufferSize);

/// The key names of `section` in file order, with the same buffer rules as readSectionNames.
std::vector<std::string> readKeyNames(const std::string& path, std::string_view section,
                                      std::size_t bufferSize);

/// Sets `key` in `section` to `value`. False with a message in `err` ("rename: Permission
/// denied") when the file cannot be written, or when the folder is missing, or when the names or
/// the value would not read back (an empty name, a line break, '=' in the key, ']' in the
/// section); the file is then unchanged.
[[nodiscard]] bool writeString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value, std::string* err);

/// Removes `key` from `section`. Removing what is not there succeeds and writes nothing.
[[nodiscard]] bool deleteKey(const std::string& path, std::string_view section,
                             std::string_view key, std::string* err);

/// Removes `section` with all its keys (and every later duplicate of it). Removing what is not
/// there succeeds and writes nothing.
[[nodiscard]] bool deleteSection(const std::string& path, std::string_view section,
                                 std::string* err);

/// Applies `changes` in order as one replacement of the file, so a reader sees all of them or
/// none. Every value to be set is checked (as writeString checks it) before anything is written;
/// false with a message in `err` and the file unchanged when one is refused or the file cannot
/// be read or written.
[[nodiscard]] bool writeChanges(const std::string& path, const std::vector<ProfileChange>& changes,
                                std::string* err);

/// Changes the text of a file, which the caller decides from what the file holds now.
/// Returns false with a message in its `err` to write nothing.
using ProfileEdit = std::function<bool(ProfileText& profile, std::string* err)>;

/// Under the folder's exclusive lock: reads the file (a missing one as empty text), lets `edit`
/// change it, and writes the result in one replacement (nothing when the text did not change).
/// So a decision taken from the file's content (the lowest free hub number, the accounts as
/// they are now) cannot be overtaken by another writer. False with a message in `err` and the
/// file unchanged when the file cannot be read (the read refuses what is not a regular file of
/// bounded size) or written, or when `edit` fails.
[[nodiscard]] bool editFile(const std::string& path, const ProfileEdit& edit, std::string* err);

}  // namespace korvane::platform::profile
