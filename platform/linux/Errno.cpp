#include "platform/linux/Errno.h"

#include <cerrno>
#include <utility>

namespace korvane::platform {

SystemError errnoError(std::string call) {
  return SystemError{std::move(call), errno};
}

void setError(std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
}

bool fail(std::string* err, std::string message) {
  setError(err, std::move(message));
  return false;
}

bool failWithErrno(std::string call, std::string* err) {
  if (err != nullptr) {
    *err = errnoError(std::move(call)).text();
  }
  return false;
}

}  // namespace korvane::platform
