#include "tools/kvtap/EventLog.h"

#include <string>

namespace korvane::tools {
namespace {

// "2024-01-31 12:00:00.123 " with its terminating zero, and room to spare for odd years.
constexpr std::size_t kStampSize = 40;

}  // namespace

void EventLog::line(std::string_view text) {
  const platform::LocalTime now = clock_.localTime();
  char stamp[kStampSize];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);
  std::string whole = stamp;
  whole.append(text);
  whole.push_back('\n');
  const std::lock_guard lock(mutex_);
  std::fwrite(whole.data(), 1, whole.size(), out_);
  std::fflush(out_);
}

}  // namespace korvane::tools
