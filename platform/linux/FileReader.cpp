#include "platform/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/linux/Errno.h"

namespace korvane::platform {

std::optional<FileReader> FileReader::open(const std::string& path, std::string* err) {
  // Without blocking, so that a FIFO put in the file's place cannot hold the reader in open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    failWithErrno("open", err);
    return std::nullopt;
  }
  FileReader reader(fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    failWithErrno("fstat", err);
    return std::nullopt;
  }
  // A device or FIFO has no end: /dev/zero would be read for ever.
  if (!S_ISREG(status.st_mode)) {
    setError(err, path + ": not a regular file");
    return std::nullopt;
  }
  reader.identity_ = static_cast<std::uint64_t>(status.st_ino);
  return reader;
}

FileReader::FileReader(FileReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), identity_(other.identity_), position_(other.position_) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
    identity_ = other.identity_;
    position_ = other.position_;
  }
  return *this;
}

FileReader::~FileReader() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::optional<std::size_t> FileReader::read(std::span<char> buffer, std::string* err) {
  while (true) {
    const ssize_t got = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(position_));
    if (got >= 0) {
      position_ += static_cast<std::uint64_t>(got);
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      failWithErrno("read", err);
      return std::nullopt;
    }
  }
}

std::optional<std::uint64_t> FileReader::size() const {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace korvane::platform
