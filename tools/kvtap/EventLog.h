#pragma once

#include <cstdio>
#include <mutex>
#include <string_view>

#include "platform/Clock.h"

namespace korvane::tools {

/// kvtap's log: one line per event, "2024-01-31 12:00:00.123 logged in", each written whole
/// even when several threads log at once.
class EventLog {
 public:
  EventLog(const platform::Clock& clock, std::FILE* out) : clock_(clock), out_(out) {}

  /// Writes `text` as one time-stamped line; a failing stream loses the line, nothing else.
  void line(std::string_view text);

 private:
  const platform::Clock& clock_;
  std::FILE* out_;
  std::mutex mutex_;
};

}  // namespace korvane::tools
