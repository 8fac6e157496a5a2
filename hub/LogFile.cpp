#include "hub/LogFile.h"

#include <filesystem>
#include <system_error>

namespace korvane::hub {

bool LogFile::open(const std::string& path, Mode mode) {
  close();
  std::FILE* file = std::fopen(path.c_str(), mode == Mode::kTruncate ? "wb" : "ab");
  if (file == nullptr) {
    return false;
  }
  file_.reset(file);
  path_ = path;
  // Without a buffer each line goes to the file in one write, visible to readers at once.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return true;
}

std::optional<std::uint64_t> LogFile::size() {
  if (!file_) {
    return std::nullopt;
  }
  if (std::fseek(file_.get(), 0, SEEK_END) != 0) {
    return std::nullopt;
  }
  const long end = std::ftell(file_.get());
  if (end < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(end);
}

bool LogFile::append(std::string_view bytes) {
  const std::optional<std::uint64_t> before = size();
  if (!before) {
    return false;
  }
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
  if (written == bytes.size()) {
    return true;
  }
  std::clearerr(file_.get());
  if (written > 0) {
    std::error_code ignored;
    std::filesystem::resize_file(path_, *before, ignored);
  }
  return false;
}

void LogFile::close() {
  file_.reset();
  path_.clear();
}

}  // namespace korvane::hub
