#pragma once

namespace korvane::platform {

/// Blocks until the process `processId` (not necessarily our child) has ended. Returns false at
/// once when the process cannot be watched: it does not exist, or we may not observe it. The
/// watch cannot be fooled by the number being reused by a later process.
[[nodiscard]] bool waitForProcessEnd(int processId);

}  // namespace korvane::platform
