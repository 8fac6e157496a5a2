#include "platform/linux/FileReplacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/Random.h"

namespace korvane::platform {

namespace {

// Room for any text strerror_r gives; glibc's longest is well under 100 bytes.
constexpr std::size_t kErrorTextSize = 256;
// Reading in blocks of this size keeps a file of any length to a few system calls.
constexpr std::size_t kReadBlockSize = 64 * 1024;
// A temporary name carries 16 random hex digits; it clashes only with a file that a crashed
// writer left behind, so a few attempts are plenty.
constexpr int kTemporaryNameAttempts = 8;
constexpr std::size_t kTemporaryNameRandomBytes = 8;
// Permission bits of a new file before the umask, as any program creating a file gives them.
constexpr mode_t kNewFileMode = 0666;
// Permission bits of a temporary file that takes an old file's bits: owner only until fchmod.
constexpr mode_t kPrivateFileMode = S_IRUSR | S_IWUSR;
// The bits chmod sets: permissions plus set-user-id, set-group-id and sticky.
constexpr mode_t kPermissionBits = 07777;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
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
  int release() { return std::exchange(fd_, -1); }

  /// Closes now; false with a message when close reports that written data was lost.
  bool close(std::string* err) {
    if (::close(release()) != 0) {
      return failWithErrno("close", err);
    }
    return true;
  }

 private:
  void reset() {
    if (fd_ >= 0) {
      ::close(release());
    }
  }

  int fd_;
};

// Removes the temporary file when the write does not get as far as the rename.
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

// Reads to the end of the file, however long it grows while it is read.
bool readToEnd(int fd, std::string* content, std::string* err) {
  std::size_t done = 0;
  for (;;) {
    content->resize(done + kReadBlockSize);
    const ssize_t got = ::read(fd, content->data() + done, kReadBlockSize);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return failWithErrno("read", err);
    }
    if (got == 0) {
      content->resize(done);
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
      return failWithErrno("write", err);
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The permission bits of the file at `path`; none when there is no file.
bool currentMode(const std::string& path, std::optional<mode_t>* mode, std::string* err) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    mode->reset();
    return errno == ENOENT ? true : failWithErrno("stat", err);
  }
  *mode = status.st_mode & kPermissionBits;
  return true;
}

// ".NAME.HEX.tmp" beside `path`: hidden, and plainly a leftover should a crash leave it.
bool temporaryName(const std::string& path, std::string* name, std::string* err) {
  std::array<std::uint8_t, kTemporaryNameRandomBytes> random{};
  if (!fillRandom(random)) {
    return failWithErrno("getrandom", err);
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

// Creates a new file beside `path`, readable by its owner only when it is to take an old file's
// bits, so that it never shows more than the old file did.
bool createTemporary(const std::string& path, bool ownerOnly, Descriptor* fd, std::string* name,
                     std::string* err) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (!temporaryName(path, name, err)) {
      return false;
    }
    *fd = Descriptor(::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            ownerOnly ? kPrivateFileMode : kNewFileMode));
    if (fd->valid()) {
      return true;
    }
    if (errno != EEXIST) {
      return failWithErrno("open", err);
    }
  }
  return failWithErrno("open", err);
}

}  // namespace

bool failWithErrno(const char* call, std::string* err) {
  const int error = errno;
  std::array<char, kErrorTextSize> buffer{};
  *err = std::string(call) + ": " + strerror_r(error, buffer.data(), buffer.size());
  errno = error;
  return false;
}

ReadOutcome readFileContent(const std::string& path, std::string* content, std::string* err) {
  content->clear();
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      return ReadOutcome::kMissing;
    }
    failWithErrno("open", err);
    return ReadOutcome::kFailed;
  }
  if (!readToEnd(fd.get(), content, err)) {
    content->clear();
    return ReadOutcome::kFailed;
  }
  return ReadOutcome::kRead;
}

FileReplacement::~FileReplacement() {
  if (folder_ >= 0) {
    ::close(folder_);
  }
}

bool FileReplacement::lockFolder(std::string* err) {
  assert(folder_ < 0 && "the folder is locked already");
  Descriptor fd(::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    return failWithErrno("open", err);
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      return failWithErrno("flock", err);
    }
  }
  folder_ = fd.release();
  return true;
}

bool FileReplacement::replace(std::string_view content, std::string* err) {
  assert(folder_ >= 0 && "a file is replaced only under its folder's lock");
  std::optional<mode_t> mode;
  if (!currentMode(path_, &mode, err)) {
    return false;
  }
  Descriptor fd;
  std::string name;
  if (!createTemporary(path_, mode.has_value(), &fd, &name, err)) {
    return false;
  }
  TemporaryFile temporary(std::move(name));
  // The umask does not apply to fchmod, so the old bits come back exactly.
  if (mode && ::fchmod(fd.get(), *mode) != 0) {
    return failWithErrno("fchmod", err);
  }
  if (!writeAll(fd.get(), content, err)) {
    return false;
  }
  if (::fsync(fd.get()) != 0) {
    return failWithErrno("fsync", err);
  }
  if (!fd.close(err)) {
    return false;
  }
  if (::rename(temporary.path().c_str(), path_.c_str()) != 0) {
    return failWithErrno("rename", err);
  }
  temporary.keep();
  // Makes the rename itself survive a power cut. The new file is in place already, so a failure
  // here cannot be reported as "unchanged"; it is left to the file system's own writeback.
  (void)::fsync(folder_);
  return true;
}

}  // namespace korvane::platform
