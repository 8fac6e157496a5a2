#include "platform/LocalPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/ProgramDirectory.h"
#include "platform/linux/Deadline.h"
#include "platform/linux/Errno.h"

// How a pipe is made of a Unix-domain stream socket:
//
// - The socket file is <program directory>pipe/NAME. Beside it the server holds an exclusive
//   flock on pipe/.NAME.lock for as long as it serves. The lock dies with its process, so a
//   socket file whose lock is free was left by an ended server and is replaced, while a pipe
//   whose lock is held is refused: a second server never takes the path from a live one, and a
//   closing server never unlinks a socket file that is not its own.
// - The socket is bound, narrowed to its mode with chmod, and only then listens. Before listen()
//   every connect is refused, so the wider mode that bind() leaves under the process umask can
//   never be used; the umask (process-wide) is not touched, which keeps create() thread-safe.
// - The listening socket is non-blocking and accept() waits in poll() on it and on an eventfd.
//   close() writes the eventfd, which stays readable, so every waiting accept() returns; close()
//   then waits until no thread is inside accept() before it closes the descriptors, so a waiting
//   thread never uses a descriptor number that has been closed (and perhaps reused).

namespace korvane::platform {
namespace {

// sun_path holds 108 bytes including the terminating zero; a longer path cannot be bound or
// connected, and cutting it would name a different pipe.
constexpr std::size_t kMaxSocketPathLength = sizeof(sockaddr_un::sun_path) - 1;

// Clients that connect while the server is busy wait in the listen queue. SOMAXCONN (4096 on
// current kernels) is far more than the hubs, manager and panels of one machine ever queue.
constexpr int kListenBacklog = SOMAXCONN;

// The pipe folder must let every local user reach the manager pipe (mode 0666) inside it, while
// only its owner may create or remove pipes in it.
constexpr mode_t kPipeFolderMode = 0755;
constexpr mode_t kOwnerOnlyMode = 0600;
constexpr mode_t kEveryoneMode = 0666;
constexpr mode_t kLockFileMode = 0600;

// When descriptors run out, accept() pauses this long before trying again, so that it does not
// spin while other code releases descriptors.
constexpr std::chrono::milliseconds kDescriptorShortagePause{100};

// Bytes read and thrown away per call while waiting for the peer to close.
constexpr std::size_t kDiscardChunk = 256;

/// Owns one descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);  // Linux releases the descriptor even when close reports EINTR
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

enum class Wait { kReady, kTimedOut, kFailed };

/// Waits until `fd` is ready for `events` (or has an error or end of stream) or `deadline`.
Wait waitFor(int fd, short events, SteadyClock::time_point deadline) {
  const int reported = pollUntil(fd, events, deadline);
  if (reported == 0) {
    return Wait::kTimedOut;
  }
  return reported < 0 || (reported & POLLNVAL) != 0 ? Wait::kFailed : Wait::kReady;
}

/// Waits until `fd` has something to read (data, end of stream or an error) or `deadline`.
Wait waitReadable(int fd, SteadyClock::time_point deadline) {
  return waitFor(fd, POLLIN, deadline);
}

/// One non-blocking receive: bytes read, 0 at end of stream, -1 for "nothing yet", -2 on error.
ssize_t receiveNow(int fd, std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got >= 0) {
      return got;
    }
    if (errno == EINTR) {
      continue;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
  }
}

bool isValidPipeName(std::string_view name) {
  // A name is one entry of the pipe folder; a leading dot is kept for the lock files.
  return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string pipeFolder() {
  const std::string dir = programDirectory();
  return dir.empty() ? std::string() : dir + "pipe/";
}

/// The socket address of the pipe `name`, checking the name and the path's length.
bool pipeAddress(std::string_view name, std::string* path, sockaddr_un* address, std::string* err) {
  if (!isValidPipeName(name)) {
    return fail(err,
                "invalid pipe name \"" + std::string(name) +
                    "\": it must be non-empty, must not start with '.' and must not contain '/'");
  }
  *path = pipePath(name);
  if (path->empty()) {
    return fail(err, "pipe " + std::string(name) + ": the program directory cannot be found");
  }
  if (path->size() > kMaxSocketPathLength) {
    return fail(err, "pipe path " + *path + " is too long: " + std::to_string(path->size()) +
                         " bytes, a local socket path holds at most " +
                         std::to_string(kMaxSocketPathLength));
  }
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path->data(), path->size());
  return true;
}

/// Creates the pipe folder when it is missing; an existing folder is left as it is.
bool ensurePipeFolder(const std::string& folder, std::string* err) {
  if (mkdir(folder.c_str(), kPipeFolderMode) == 0) {
    // mkdir's mode passes through the umask; the folder must be reachable by every user.
    if (chmod(folder.c_str(), kPipeFolderMode) != 0) {
      return failWithErrno("chmod " + folder, err);
    }
    return true;
  }
  if (errno != EEXIST) {
    return failWithErrno("mkdir " + folder, err);
  }
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) {
    return failWithErrno("stat " + folder, err);
  }
  if (!S_ISDIR(info.st_mode)) {
    return fail(err, folder + " exists and is not a folder");
  }
  return true;
}

/// Takes the server lock of the pipe `name`; fails when a live server holds it.
bool lockPipe(const std::string& folder, std::string_view name, const std::string& path,
              UniqueFd* lock, std::string* err) {
  const std::string lockPath = folder + "." + std::string(name) + ".lock";
  UniqueFd fd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode));
  if (!fd.valid()) {
    return failWithErrno("open " + lockPath, err);
  }
  for (;;) {
    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      break;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno == EWOULDBLOCK) {
      return fail(err, "pipe " + path + " is already served by another server");
    }
    return failWithErrno("flock " + lockPath, err);
  }
  *lock = std::move(fd);
  return true;
}

/// Removes the socket file that an ended server left; anything else at the path is kept.
bool removeStaleSocket(const std::string& path, std::string* err) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? true : failWithErrno("lstat " + path, err);
  }
  if (!S_ISSOCK(info.st_mode)) {
    return fail(err, path + " exists and is not a pipe; it is left alone");
  }
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    return failWithErrno("unlink " + path, err);
  }
  return true;
}

bool isPassingAcceptError(int error) {
  // A client that gave up before it was accepted, or a signal: the next client is unaffected.
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED ||
         error == EPROTO;
}

/// What a failed connect to a pipe means for its caller.
PipeOpenFailure connectFailure(int error) {
  if (error == ENOENT || error == ECONNREFUSED) {
    return PipeOpenFailure::kNoServer;  // no socket file, or one that nobody listens on
  }
  // A Unix-domain connect that would block has found the server's listen queue full.
  return error == EAGAIN ? PipeOpenFailure::kBusy : PipeOpenFailure::kError;
}

bool isDescriptorShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

struct PipeServer::State {
  std::string path;
  UniqueFd lock;
  UniqueFd listener;
  UniqueFd wake;  // eventfd; readable once close() has begun

  std::mutex mutex;
  std::condition_variable idle;
  int acceptors = 0;  // threads inside accept(), guarded by mutex
  bool closed = false;

  ~State() { shutDown(); }

  /// The next client's descriptor, or -1 once the server is closed or failed for good.
  int acceptNext() const;
  void shutDown();
};

int PipeServer::State::acceptNext() const {
  for (;;) {
    std::array<pollfd, 2> entries{{{listener.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}}};
    if (poll(entries.data(), entries.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (entries[1].revents != 0) {
      return -1;
    }
    if ((entries[0].revents & (POLLERR | POLLNVAL)) != 0) {
      return -1;
    }
    const int client = accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      return client;
    }
    if (isPassingAcceptError(errno)) {
      continue;
    }
    if (!isDescriptorShortage(errno)) {
      return -1;
    }
    pollfd wakeEntry{wake.get(), POLLIN, 0};
    (void)poll(&wakeEntry, 1, static_cast<int>(kDescriptorShortagePause.count()));
  }
}

void PipeServer::State::shutDown() {
  std::unique_lock guard(mutex);
  if (closed) {
    return;
  }
  closed = true;
  if (wake.valid()) {
    const std::uint64_t one = 1;
    (void)!write(wake.get(), &one, sizeof one);
  }
  // The lock is still held, so the file at the path is this server's own socket.
  if (listener.valid()) {
    (void)unlink(path.c_str());
  }
  idle.wait(guard, [this] { return acceptors == 0; });
  listener.reset();
  wake.reset();
  lock.reset();
}

std::string pipePath(std::string_view name) {
  const std::string folder = pipeFolder();
  return folder.empty() ? std::string() : folder + std::string(name);
}

// ---------------------------------------------------------------------------------------------
// PipeConnection

PipeConnection::PipeConnection(PipeConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

PipeConnection& PipeConnection::operator=(PipeConnection&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

PipeConnection::~PipeConnection() {
  close();
}

std::size_t PipeConnection::readFully(std::span<std::uint8_t> buffer,
                                      std::chrono::milliseconds limit) {
  const auto deadline = deadlineAfter(limit);
  std::size_t done = 0;
  while (isOpen() && done < buffer.size()) {
    if (waitReadable(static_cast<int>(handle_), deadline) != Wait::kReady) {
      break;
    }
    const ssize_t got = receiveNow(static_cast<int>(handle_), buffer.subspan(done));
    if (got == 0 || got == -2) {
      break;
    }
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    }
  }
  return done;
}

std::size_t PipeConnection::readSome(std::span<std::uint8_t> buffer,
                                     std::chrono::milliseconds limit) {
  if (!isOpen() || buffer.empty()) {
    return 0;
  }
  const auto deadline = deadlineAfter(limit);
  for (;;) {
    if (waitReadable(static_cast<int>(handle_), deadline) != Wait::kReady) {
      return 0;
    }
    const ssize_t got = receiveNow(static_cast<int>(handle_), buffer);
    if (got >= 0) {
      return static_cast<std::size_t>(got);
    }
    if (got == -2) {
      return 0;
    }
  }
}

bool PipeConnection::writeAll(std::span<const std::uint8_t> data, std::chrono::milliseconds limit) {
  if (!isOpen()) {
    return false;
  }
  const auto deadline = deadlineAfter(limit);
  const int fd = static_cast<int>(handle_);
  while (!data.empty()) {
    // MSG_DONTWAIT: a peer that does not read fills the socket buffer, and the wait for room
    // below ends at the deadline instead of when the peer pleases. MSG_NOSIGNAL: a peer that
    // has gone makes this call fail, not the process die of SIGPIPE.
    const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      data = data.subspan(static_cast<std::size_t>(sent));
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return false;
    }
    if (waitFor(fd, POLLOUT, deadline) != Wait::kReady) {
      return false;
    }
  }
  return true;
}

bool PipeConnection::finishAndWaitForClose(std::chrono::milliseconds limit) {
  if (!isOpen()) {
    return false;
  }
  const auto deadline = deadlineAfter(limit);
  const int fd = static_cast<int>(handle_);
  if (shutdown(fd, SHUT_WR) != 0) {
    return false;
  }
  // The peer closes once it has read what it wanted. If it closes with our bytes still unread,
  // the kernel reports ECONNRESET instead of the end of stream, and the call fails.
  std::array<std::uint8_t, kDiscardChunk> discard{};
  for (;;) {
    if (waitReadable(fd, deadline) != Wait::kReady) {
      return false;
    }
    const ssize_t got = receiveNow(fd, discard);
    if (got == 0) {
      return true;
    }
    if (got == -2) {
      return false;
    }
  }
}

std::optional<std::uint32_t> PipeConnection::peerUserId() const {
  if (!isOpen()) {
    return std::nullopt;
  }
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
      size != sizeof peer) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(peer.uid);
}

void PipeConnection::close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(std::exchange(handle_, -1)));
  }
}

// ---------------------------------------------------------------------------------------------
// PipeServer

PipeServer::PipeServer() = default;
PipeServer::PipeServer(PipeServer&& other) noexcept = default;
PipeServer& PipeServer::operator=(PipeServer&& other) noexcept = default;
PipeServer::~PipeServer() = default;

std::optional<PipeServer> PipeServer::create(std::string_view name, PipeAccess access,
                                             std::string* err) {
  auto state = std::make_unique<State>();
  sockaddr_un address{};
  if (!pipeAddress(name, &state->path, &address, err)) {
    return std::nullopt;
  }
  const std::string folder = pipeFolder();
  if (!ensurePipeFolder(folder, err) || !lockPipe(folder, name, state->path, &state->lock, err) ||
      !removeStaleSocket(state->path, err)) {
    return std::nullopt;
  }
  state->listener.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!state->listener.valid()) {
    failWithErrno("socket", err);
    return std::nullopt;
  }
  if (bind(state->listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
      0) {
    failWithErrno("bind " + state->path, err);
    state->listener.reset();  // nothing was bound, so nothing is unlinked
    return std::nullopt;
  }
  // From here on, State's destructor unlinks the socket file on every failure.
  const mode_t mode = access == PipeAccess::kEveryone ? kEveryoneMode : kOwnerOnlyMode;
  if (chmod(state->path.c_str(), mode) != 0) {
    failWithErrno("chmod " + state->path, err);
    return std::nullopt;
  }
  if (listen(state->listener.get(), kListenBacklog) != 0) {
    failWithErrno("listen " + state->path, err);
    return std::nullopt;
  }
  state->wake.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!state->wake.valid()) {
    failWithErrno("eventfd", err);
    return std::nullopt;
  }
  PipeServer server;
  server.state_ = std::move(state);
  return server;
}

std::optional<PipeConnection> PipeServer::accept() {
  if (!state_) {
    return std::nullopt;
  }
  State& state = *state_;
  {
    std::lock_guard guard(state.mutex);
    if (state.closed) {
      return std::nullopt;
    }
    ++state.acceptors;
  }
  // The descriptors stay open while acceptors > 0: shutDown() waits for that before closing.
  const int client = state.acceptNext();
  {
    std::lock_guard guard(state.mutex);
    --state.acceptors;
    state.idle.notify_all();
  }
  if (client < 0) {
    return std::nullopt;
  }
  return PipeConnection(client);
}

void PipeServer::close() {
  if (state_) {
    state_->shutDown();
  }
}

// ---------------------------------------------------------------------------------------------
// Client side

std::optional<PipeConnection> openPipe(std::string_view name, std::string* err,
                                       PipeOpenFailure* failure) {
  const auto fails = [&](PipeOpenFailure why, std::string message) {
    setError(err, std::move(message));
    if (failure != nullptr) {
      *failure = why;
    }
    return std::nullopt;
  };
  std::string path;
  sockaddr_un address{};
  std::string addressError;
  if (!pipeAddress(name, &path, &address, &addressError)) {
    return fails(PipeOpenFailure::kError, std::move(addressError));
  }
  // Non-blocking, so that a server whose listen queue is full makes the open fail with EAGAIN
  // at once (the pipe is busy) instead of blocking the caller until the server catches up.
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) {
    return fails(PipeOpenFailure::kError, errnoError("socket").text());
  }
  while (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) {
      continue;
    }
    const SystemError error = errnoError("connect " + path);
    return fails(connectFailure(error.code), error.text());
  }
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return fails(PipeOpenFailure::kError, errnoError("fcntl " + path).text());
  }
  return PipeConnection(static_cast<std::intptr_t>(fd.release()));
}

}  // namespace korvane::platform
