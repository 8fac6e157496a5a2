#pragma once

#include <string>

namespace korvane::platform {

/// Lets every local user read and write the file or folder at `path` (and search it, for a
/// folder), keeping the rights it already gives. False with a message in `err` naming the step
/// that failed: "stat" when the path cannot be examined (for instance when it does not exist),
/// "chmod" when its rights cannot be changed. The path is unchanged on failure.
[[nodiscard]] bool grantEveryoneFullAccess(const std::string& path, int* errorCode,
                                           std::string* err);

}  // namespace korvane::platform
