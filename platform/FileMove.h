#pragma once

#include <string>

namespace korvane::platform {

/// Moves the file at `from` to `to`, replacing a file there: a rename where both lie on one file
/// system, else a copy flushed to disk and renamed into place, then the source deleted. False
/// with "call PATH: reason" in `err` when it fails; the source then still exists and `to` holds
/// its old content or none.
[[nodiscard]] bool moveFileReplacing(const std::string& from, const std::string& to,
                                     std::string* err);

}  // namespace korvane::platform
