#pragma once

#include <string>

#include "platform/SystemError.h"

// Linux only: the one place where platform/linux turns errno into a SystemError or its text.
// Only platform/linux/*.cpp include it.
namespace korvane::platform {

/// The SystemError for the errno that the failing `call` left behind; errno stays as it was.
SystemError errnoError(std::string call);

/// Puts `message` into `err` when the caller asked for it.
void setError(std::string* err, std::string message);

/// Always false, with `message` in `err` when the caller asked for it.
bool fail(std::string* err, std::string message);

/// Always false, with "call: reason" in `err` for the errno that the failing `call` left behind
/// (when the caller asked for it); errno stays as it was.
bool failWithErrno(std::string call, std::string* err);

}  // namespace korvane::platform
