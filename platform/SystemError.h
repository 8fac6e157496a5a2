#pragma once

#include <string>

namespace korvane::platform {

/// A failed operating-system call, kept as a value: what was called (with what it acted on, when
/// that helps the reader: "connect 127.0.0.1:7470") and the system's error number (errno on
/// Linux), so that a caller may branch on the number or report the text.
struct SystemError {
  std::string call;
  int code = 0;

  /// "call: reason", the reason in the system's own words ("sendmsg: Broken pipe").
  std::string text() const;
};

}  // namespace korvane::platform
