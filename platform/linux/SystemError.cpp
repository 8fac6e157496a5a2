#include "platform/SystemError.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace korvane::platform {

namespace {

// Room for any text strerror_r gives; glibc's longest is well under 100 bytes.
constexpr std::size_t kErrorTextSize = 256;

}  // namespace

std::string SystemError::text() const {
  const int saved = errno;  // callers may still look at errno after reporting
  std::array<char, kErrorTextSize> buffer{};
  // The GNU strerror_r returns its text, which need not be in `buffer`.
  std::string result = call + ": " + strerror_r(code, buffer.data(), buffer.size());
  errno = saved;
  return result;
}

}  // namespace korvane::platform
