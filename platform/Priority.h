#pragma once

namespace korvane::platform {

/// Asks for a higher scheduling priority for the whole process. Best effort: a refusal (an
/// unprivileged user) is ignored.
void raiseProcessPriority();

/// Asks for the highest normal scheduling priority for the calling thread. Best effort.
void raiseThreadPriority();

}  // namespace korvane::platform
