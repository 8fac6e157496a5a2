#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

/// Local pipes: named stream connections between the programs of one installation. A pipe NAME
/// lives at <program directory>pipe/NAME, so two installations (or two test runs) never meet.
namespace korvane::platform {

/// How long a write waits for a peer to take the bytes when no other limit is given. A pipe
/// message is at most about 400 KB (a hub's connection list), which a peer that reads takes in
/// milliseconds; five seconds only run out for a peer that does not read, and it is the time the
/// panel itself waits for a hub's reply.
inline constexpr std::chrono::milliseconds kPipeWriteLimit{5000};

/// Who may connect to a pipe.
enum class PipeAccess {
  kOwnerOnly,  ///< only the user that runs the server (hub control and notification pipes)
  kEveryone,   ///< every local user (the manager pipe)
};

/// Why a pipe could not be opened.
enum class PipeOpenFailure {
  kNoServer,  ///< the pipe does not exist, or no server serves it
  kBusy,      ///< a server serves it, but its queue of waiting clients is full
  kError,     ///< anything else: a bad name, no program directory, no descriptor left
};

/// Where the pipe `name` lives: <program directory>pipe/<name>. Empty when the program directory
/// cannot be found.
std::string pipePath(std::string_view name);

/// One connection of a pipe, from either side. Closing it (or destroying it) disconnects.
class PipeConnection {
 public:
  PipeConnection() = default;
  PipeConnection(PipeConnection&& other) noexcept;
  PipeConnection& operator=(PipeConnection&& other) noexcept;
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;
  ~PipeConnection();

  bool isOpen() const { return handle_ >= 0; }

  /// The user id the peer ran as when it connected, as the kernel recorded it (the peer cannot
  /// claim another). Empty when the connection is closed or the kernel does not say.
  std::optional<std::uint32_t> peerUserId() const;

  /// Reads until `buffer` is full, the peer stops sending, or `limit` has passed since the call.
  /// Returns the number of bytes read (less than the buffer's size when it stopped early).
  std::size_t readFully(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit);

  /// Reads what has arrived, at most `buffer.size()` bytes, waiting up to `limit` for the first
  /// byte. Returns 0 when the peer closed, nothing came in time, or the read failed.
  std::size_t readSome(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit);

  /// Writes all of `data`, waiting at most `limit` for the peer to make room. False when the peer
  /// is gone, the write fails, or the peer has not taken every byte within `limit` (it does not
  /// read); the connection then holds part of a message and is only good for closing.
  [[nodiscard]] bool writeAll(std::span<const std::uint8_t> data,
                              std::chrono::milliseconds limit = kPipeWriteLimit);

  /// Tells the peer that nothing more will be sent and waits, at most `limit`, until the peer
  /// has closed its side: after it returns true the peer has taken every byte sent.
  bool finishAndWaitForClose(std::chrono::milliseconds limit);

  /// Disconnects. Safe to call twice.
  void close();

 private:
  friend class PipeServer;
  friend std::optional<PipeConnection> openPipe(std::string_view name, std::string* err,
                                                PipeOpenFailure* failure);
  explicit PipeConnection(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = -1;
};

/// The server side of a pipe with one instance: it serves one client at a time, and further
/// clients wait until it accepts them. One thread may wait in accept() while another calls
/// close(); the object must outlive both calls.
class PipeServer {
 public:
  PipeServer();
  PipeServer(PipeServer&& other) noexcept;
  PipeServer& operator=(PipeServer&& other) noexcept;
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;
  ~PipeServer();

  /// Creates the pipe `name` (creating the pipe folder when missing and replacing a pipe left by
  /// an ended process) with the given access. Empty with a message in `err` on failure, also when
  /// a live server already serves the pipe: a pipe is never taken from the process that serves it.
  static std::optional<PipeServer> create(std::string_view name, PipeAccess access,
                                          std::string* err);

  /// Waits without limit for the next client to connect (close() ends the wait); what the client
  /// sends is read with the connection's bounded reads. Empty when the server has been closed or
  /// fails.
  std::optional<PipeConnection> accept();

  /// Removes the pipe; clients waiting to be accepted are dropped, and a thread waiting in
  /// accept() returns empty before close() returns. Safe to call twice.
  void close();

 private:
  struct State;  // descriptors and the accept/close hand-over, known only to the platform code
  std::unique_ptr<State> state_;
};

/// Connects to the pipe `name` without waiting: a server that has not accepted yet keeps the
/// client in its queue. Empty with a message in `err`, and the reason in `failure` (when not
/// null), when the pipe cannot be opened.
std::optional<PipeConnection> openPipe(std::string_view name, std::string* err,
                                       PipeOpenFailure* failure = nullptr);

}  // namespace korvane::platform
