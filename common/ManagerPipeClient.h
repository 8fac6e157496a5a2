#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

/// The client side of the manager pipe: telling the running manager to read the manager
/// configuration file again, after a hub was created, deleted, started or stopped.
namespace korvane::common {

/// The manager's pipe; every local user may connect to it.
inline constexpr std::string_view kManagerPipeName = "KVTOLLMAR";

/// The request: the manager ignores its content, and the panel always sends "AAA" and a zero.
inline constexpr std::string_view kReloadRequest{"AAA\0", 4};

/// The manager's answer, "OK" and a zero.
inline constexpr std::string_view kReloadReply{"OK\0", 3};

/// The reply is read into a buffer of 1023 bytes, more than the 3 the manager sends.
inline constexpr std::size_t kReloadReplyBufferSize = 1023;

/// How long the client waits for the reply. The manager answers at once, but serves one client
/// at a time, so a reply may wait behind another client; five seconds covers that and still
/// keeps a caller from hanging on a manager that stopped answering.
inline constexpr std::chrono::milliseconds kReloadReplyWait{5000};

/// Sends the reload request to the manager and waits (at most kReloadReplyWait) for its reply,
/// whose content is not examined. Returns 0 when the request was written; -1, with a message in
/// `err` when it is not null, when the pipe cannot be opened (no manager runs) or the write
/// fails.
int requestManagerReload(std::string* err = nullptr);

}  // namespace korvane::common
