#pragma once

#include <chrono>
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

/// How long the client waits for the reply. The manager answers at once, serving each client
/// beside the others; five seconds cover a machine under load and still keep a caller from
/// hanging on a manager that stopped answering.
inline constexpr std::chrono::milliseconds kReloadReplyWait{5000};

/// What became of a reload request.
enum class ReloadResult {
  kConfirmed,     ///< the manager answered "OK": it reloads
  kNoManager,     ///< the pipe cannot be opened: no manager runs, and it reads the whole file when
                  ///< it next starts, so the change is not lost
  kNotConfirmed,  ///< a manager serves the pipe but did not answer "OK" within kReloadReplyWait,
                  ///< or its queue of waiting clients is full
};

/// Sends the reload request to the manager and waits (at most kReloadReplyWait) for its reply
/// "OK". Every result but kConfirmed comes with a message in `err` when it is not null.
[[nodiscard]] ReloadResult requestManagerReload(std::string* err = nullptr);

}  // namespace korvane::common
