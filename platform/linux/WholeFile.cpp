#include "platform/WholeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
constexpr mode_t kPermissionBits = 07777;

// "call: errno text", from the errno the failing call left.
bool fail(const char* call, std::string* err) {
  const int error = errno;
  std::array<char, kErrorTextSize> buffer{};
  *err = std::string(call) + ": " + strerror_r(error, buffer.data(), buffer.size());
  errno = error;
  return false;
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  /// Closes now; false with a message when close reports that written data was lost.
  bool close(std::string* err) {
    if (::close(std::exchange(fd_, -1)) != 0) {
      return fail("close", err);
    }
    return true;
  }

 private:
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

// The same lock that the profile-file writers hold on the folder while they replace a file.
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

// The permission bits of the file at `path`; 0 with `exists` false when there is none.
bool currentMode(const std::string& path, bool* exists, mode_t* mode, std::string* err) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    *exists = false;
    return errno == ENOENT ? true : fail("stat", err);
  }
  *exists = true;
  *mode = status.st_mode & kPermissionBits;
  return true;
}

bool createTemporary(const std::string& path, Descriptor* fd, std::string* name, std::string* err) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (!temporaryName(path, name, err)) {
      return false;
    }
    *fd = Descriptor(::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
    if (fd->valid()) {
      return true;
    }
    if (errno != EEXIST) {
      return fail("open", err);
    }
  }
  return fail("open", err);
}

}  // namespace

ReadOutcome readWholeFile(const std::string& path, std::string* content, std::string* err) {
  content->clear();
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      return ReadOutcome::kMissing;
    }
    fail("open", err);
    return ReadOutcome::kFailed;
  }
  std::string block(kReadBlockSize, '\0');
  for (;;) {
    const ssize_t got = ::read(fd.get(), block.data(), block.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      fail("read", err);
      content->clear();
      return ReadOutcome::kFailed;
    }
    if (got == 0) {
      return ReadOutcome::kRead;
    }
    content->append(block, 0, static_cast<std::size_t>(got));
  }
}

bool replaceWholeFile(const std::string& path, std::string_view content, std::string* err) {
  Descriptor folder;
  if (!lockFolder(folderOf(path), &folder, err)) {
    return false;
  }
  bool exists = false;
  mode_t mode = 0;
  if (!currentMode(path, &exists, &mode, err)) {
    return false;
  }
  Descriptor fd;
  std::string name;
  if (!createTemporary(path, &fd, &name, err)) {
    return false;
  }
  TemporaryFile temporary(name);
  // The umask does not apply to fchmod, so an existing file's bits come back exactly.
  if (exists && ::fchmod(fd.get(), mode) != 0) {
    return fail("fchmod", err);
  }
  if (!writeAll(fd.get(), content, err)) {
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
  // Makes the rename itself survive a power cut; the new file is in place already, so a
  // failure here is left to the file system's own writeback.
  (void)::fsync(folder.get());
  return true;
}

bool removeFile(const std::string& path, std::string* err) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return fail("unlink", err);
  }
  return true;
}

}  // namespace korvane::platform
