#include "platform/linux/FileReplacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/Random.h"
#include "platform/linux/Errno.h"

namespace korvane::platform {

namespace {

// Reading in blocks of this size keeps a file of any length to a few system calls.
constexpr std::size_t kReadBlockSize = 64 * 1024;
// A temporary name carries 16 random hex digits; it clashes only with a file that a crashed
// writer left behind, so a few attempts are plenty.
constexpr int kTemporaryNameAttempts = 8;
constexpr std::size_t kTemporaryNameRandomBytes = 8;
// Permission bits of a new file: owner and group (the administrators', in the granted ini
// folder), never others, since the account files hold passwords and the DHCP files network keys.
constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP;
// Permission bits of a temporary file when it is created: owner only until fchmod gives it its
// final bits, whatever the umask.
constexpr mode_t kPrivateFileMode = S_IRUSR | S_IWUSR;
// The bits chmod sets: permissions plus set-user-id, set-group-id and sticky.
constexpr mode_t kPermissionBits = 07777;
// Polling the folder lock this often keeps a waiting writer's delay unnoticeable, at 20 cheap
// system calls a second.
constexpr std::chrono::milliseconds kFolderLockPoll{50};

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

std::string tooLarge(const std::string& path) {
  return path + ": larger than " + std::to_string(kMaxReadFileBytes / (1024 * 1024)) + " MiB";
}

// Reads to the end of the file, but never more than one byte beyond the limit: a file that
// grows past it while it is read is refused, not followed.
bool readToEnd(int fd, const std::string& path, std::string* content, std::string* err) {
  std::size_t done = 0;
  for (;;) {
    const std::size_t block = std::min(kReadBlockSize, kMaxReadFileBytes + 1 - done);
    content->resize(done + block);
    const ssize_t got = ::read(fd, content->data() + done, block);
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
    if (done > kMaxReadFileBytes) {
      *err = tooLarge(path);
      return false;
    }
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

// The permission bits that the new content of `path` gets: those of the old file without any
// right for others (a file written before they were private is made so now), or kNewFileMode
// for a new file.
bool modeOfReplacement(const std::string& path, mode_t* mode, std::string* err) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    *mode = kNewFileMode;
    return errno == ENOENT ? true : failWithErrno("stat", err);
  }
  *mode = status.st_mode & kPermissionBits & ~mode_t{S_IRWXO};
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

// Creates a new file beside `path`, readable by its owner only until the caller gives it its
// final bits, so that its content is never shown to more users than the finished file's.
bool createTemporary(const std::string& path, Descriptor* fd, std::string* name, std::string* err) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (!temporaryName(path, name, err)) {
      return false;
    }
    *fd = Descriptor(
        ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
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

ReadOutcome readFileContent(const std::string& path, std::string* content, std::string* err) {
  content->clear();
  // Without blocking, so that a FIFO put in a file's place cannot hold the reader in open.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      return ReadOutcome::kMissing;
    }
    failWithErrno("open", err);
    return ReadOutcome::kFailed;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    failWithErrno("fstat", err);
    return ReadOutcome::kFailed;
  }
  // A device, FIFO or folder has no content to read: /dev/zero would never end.
  if (!S_ISREG(status.st_mode)) {
    *err = path + ": not a regular file";
    return ReadOutcome::kFailed;
  }
  if (static_cast<std::uint64_t>(status.st_size) > kMaxReadFileBytes) {
    *err = tooLarge(path);
    return ReadOutcome::kFailed;
  }
  if (!readToEnd(fd.get(), path, content, err)) {
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

FolderLock FileReplacement::lockFolder(std::string* err) {
  assert(folder_ < 0 && "the folder is locked already");
  Descriptor fd(::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    const bool missing = errno == ENOENT;
    failWithErrno("open", err);
    return missing ? FolderLock::kNoFolder : FolderLock::kFailed;
  }
  const Tick start = clock_.tickCount();
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) {
      continue;
    }
    if (errno != EWOULDBLOCK) {
      failWithErrno("flock", err);
      return FolderLock::kFailed;
    }
    if (ticksBetween(start, clock_.tickCount()) >= kFolderLockDeadline.count()) {
      const auto waited = std::chrono::duration_cast<std::chrono::seconds>(kFolderLockDeadline);
      *err = "flock " + folderOf(path_) + ": the folder is locked by another process (waited " +
             std::to_string(waited.count()) + " s)";
      return FolderLock::kFailed;
    }
    clock_.sleepFor(kFolderLockPoll);
  }
  folder_ = fd.release();
  return FolderLock::kHeld;
}

bool FileReplacement::replace(std::string_view content, std::string* err) {
  assert(folder_ >= 0 && "a file is replaced only under its folder's lock");
  mode_t mode = 0;
  if (!modeOfReplacement(path_, &mode, err)) {
    return false;
  }
  Descriptor fd;
  std::string name;
  if (!createTemporary(path_, &fd, &name, err)) {
    return false;
  }
  TemporaryFile temporary(std::move(name));
  // The umask does not apply to fchmod, so the file gets exactly these bits.
  if (::fchmod(fd.get(), mode) != 0) {
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
