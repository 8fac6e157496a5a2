#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "platform/ProfileText.h"
#include "platform/Random.h"

namespace korvane::platform::profile {

namespace {

// Room for any text strerror_r gives; glibc's longest is well under 100 bytes.
constexpr std::size_t kErrorTextSize = 256;
// A temporary name is 16 random hex digits; it clashes only with a file that a crashed writer
// left behind, so a few attempts are plenty.
constexpr int kTemporaryNameAttempts = 8;
constexpr std::size_t kTemporaryNameRandomBytes = 8;
// A file that grows while it is read is taken in further blocks of this size.
constexpr std::size_t kReadBlockSize = 64 * 1024;
// Permission bits of a new file before the umask, as any program creating a file gives them.
constexpr mode_t kNewFileMode = 0666;
// The bits chmod sets: permissions plus set-user-id, set-group-id and sticky.
constexpr mode_t kPermissionBits = 07777;

// "call: errno text", from the errno the failing call left; errno stays as it was.
bool fail(const char* call, std::string* err) {
  const int error = errno;
  std::array<char, kErrorTextSize> buffer{};
  *err = std::string(call) + ": " + strerror_r(error, buffer.data(), buffer.size());
  errno = error;
  return false;
}

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  /// Closes now; false with a message when close reports that written data was lost.
  bool close(std::string* err) {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
      return fail("close", err);
    }
    return true;
  }

 private:
  void reset() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  int fd_ = -1;
};

// A file that is unlinked when the object goes, unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) {
      ::unlink(path_.c_str());
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads to the end of the file; `expectedSize` (the size fstat gave) lets a file that does not
// change while it is read arrive in one block.
bool readAll(int fd, std::size_t expectedSize, std::string* text, std::string* err) {
  text->resize(expectedSize + 1);
  std::size_t done = 0;
  for (;;) {
    if (done == text->size()) {
      text->resize(text->size() + kReadBlockSize);
    }
    const ssize_t got = ::read(fd, text->data() + done, text->size() - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return fail("read", err);
    }
    if (got == 0) {
      text->resize(done);
      return true;
    }
    done += static_cast<std::size_t>(got);
  }
}

bool writeAll(int fd, std::string_view text, std::string* err) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0) {
      return fail("write", err);
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The file as it is now; a missing file is an empty text without permission bits.
struct CurrentFile {
  std::string text;
  std::optional<mode_t> mode;
};

bool readCurrent(const std::string& path, CurrentFile* current, std::string* err) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    return errno == ENOENT ? true : fail("open", err);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return fail("fstat", err);
  }
  current->mode = status.st_mode & kPermissionBits;
  return readAll(fd.get(), static_cast<std::size_t>(status.st_size), &current->text, err);
}

// The text of a profile for a reader: an unreadable file reads as an empty one, so every key
// takes its default, as a missing file does.
std::string readForReader(const std::string& path) {
  CurrentFile current;
  std::string ignored;
  if (!readCurrent(path, &current, &ignored)) {
    return {};
  }
  return std::move(current.text);
}

// Opens the folder and takes its exclusive lock, which every writer of a file in it holds from
// reading the old text to renaming the new one; the lock goes with the descriptor.
bool lockFolder(const std::string& folder, Descriptor* lock, std::string* err) {
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    return fail("open", err);
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      return fail("flock", err);
    }
  }
  *lock = std::move(fd);
  return true;
}

bool temporaryName(const std::string& path, std::string* name, std::string* err) {
  std::array<std::uint8_t, kTemporaryNameRandomBytes> random{};
  if (!fillRandom(random)) {
    return fail("getrandom", err);
  }
  std::string digits;
  for (const std::uint8_t byte : random) {
    std::array<char, 3> pair{};
    std::snprintf(pair.data(), pair.size(), "%02x", byte);
    digits += pair.data();
  }
  *name = folderOf(path) + "/." + fileNameOf(path) + "." + digits + ".tmp";
  return true;
}

// Creates a new file beside `path` with the permission bits `mode` (those of a new file when
// there is no old one).
bool createTemporary(const std::string& path, std::optional<mode_t> mode, Descriptor* fd,
                     std::string* name, std::string* err) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (!temporaryName(path, name, err)) {
      return false;
    }
    *fd = Descriptor(::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            mode ? S_IRUSR | S_IWUSR : kNewFileMode));
    if (fd->valid()) {
      break;
    }
    if (errno != EEXIST) {
      return fail("open", err);
    }
  }
  if (!fd->valid()) {
    return fail("open", err);
  }
  // The umask does not apply to fchmod, so the old bits come back exactly.
  if (mode && ::fchmod(fd->get(), *mode) != 0) {
    const int error = errno;
    ::unlink(name->c_str());
    errno = error;
    return fail("fchmod", err);
  }
  return true;
}

// Puts `text` in place of the file at `path` in one rename; on failure the file is untouched
// and no temporary file remains.
bool replaceFile(const std::string& path, const std::string& text, std::optional<mode_t> mode,
                 const Descriptor& folder, std::string* err) {
  Descriptor fd;
  std::string name;
  if (!createTemporary(path, mode, &fd, &name, err)) {
    return false;
  }
  TemporaryFile temporary(name);
  if (!writeAll(fd.get(), text, err)) {
    return false;
  }
  if (::fsync(fd.get()) != 0) {
    return fail("fsync", err);
  }
  if (!fd.close(err)) {
    return false;
  }
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return fail("rename", err);
  }
  temporary.keep();
  // Makes the rename itself survive a power cut. The new file is in place already, so a failure
  // here cannot be reported as "unchanged"; it is left to the file system's own writeback.
  (void)::fsync(folder.get());
  return true;
}

// Reads, edits and replaces the file under the folder's lock; an edit that changes nothing
// writes nothing. Folders are never created: writing into a missing one fails, while removing
// from it succeeds, as there is no file to remove from.
bool rewrite(const std::string& path, const std::function<void(ProfileText&)>& edit,
             std::string* err) {
  Descriptor folder;
  if (!lockFolder(folderOf(path), &folder, err)) {
    if (errno != ENOENT) {
      return false;
    }
    ProfileText nothing("");
    edit(nothing);
    return nothing.text().empty();
  }
  CurrentFile current;
  if (!readCurrent(path, &current, err)) {
    return false;
  }
  ProfileText profile(current.text);
  edit(profile);
  if (profile.text() == current.text) {
    return true;
  }
  return replaceFile(path, profile.text(), current.mode, folder, err);
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
  return rewrite(
      path, [&](ProfileText& profile) { profile.setValue(section, key, value); }, err);
}

bool deleteKey(const std::string& path, std::string_view section, std::string_view key,
               std::string* err) {
  return rewrite(
      path, [&](ProfileText& profile) { profile.removeKey(section, key); }, err);
}

bool deleteSection(const std::string& path, std::string_view section, std::string* err) {
  return rewrite(
      path, [&](ProfileText& profile) { profile.removeSection(section); }, err);
}

}  // namespace korvane::platform::profile
