#include "platform/FileMove.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/linux/Errno.h"

namespace korvane::platform {
namespace {

// Copies `from` to a temporary file beside `to`, flushes it to disk and renames it over `to`.
bool copyReplacing(const std::string& from, const std::string& to, std::string* err) {
  const std::string temporary = to + ".moving";
  std::error_code ec;
  std::filesystem::copy_file(from, temporary, std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return fail(err, "copy " + from + ": " + ec.message());
  }
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
  const bool flushed = descriptor >= 0 && ::fsync(descriptor) == 0;
  if (descriptor >= 0) {
    ::close(descriptor);
  }
  if (!flushed || ::rename(temporary.c_str(), to.c_str()) != 0) {
    failWithErrno((flushed ? "rename " : "fsync ") + temporary, err);
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace

bool moveFileReplacing(const std::string& from, const std::string& to, std::string* err) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    return true;
  }
  if (errno != EXDEV) {
    return failWithErrno("rename " + from, err);
  }
  if (!copyReplacing(from, to, err)) {
    return false;
  }
  if (::unlink(from.c_str()) != 0) {
    return failWithErrno("unlink " + from, err);
  }
  return true;
}

}  // namespace korvane::platform
