#include "hub/Listener.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "hub/PortManager.h"
#include "hub/ShutdownFlag.h"
#include "hub/SocketPort.h"
#include "hub/TcpPortConnection.h"
#include "hub/ThreadCatchAll.h"

namespace korvane::hub {
namespace {

// How far the listener got, as the catch-all reports it ("iStepNo = %d").
enum class Phase : int {
  kStart = 1001,
  kTakingAddresses = 1003,
  kWaiting = 1013,
  kCreatingPort = 1022,
  kResolveFailed = 1081,
  kNothingBound = 1082,
  kWaitFailed = 1083,
  kAcceptFailed = 1084,
  kShutdownSeen = 8070,
  kHubFull = 8071,
  // The IPv4-only listener, which runs when no address could be taken.
  kIpv4Socket = 1010,
  kIpv4Listen = 1060,
  kIpv4BindFailed = 8050,
};

// The IPv4-only listener tries again at this pace, for as long as its socket cannot be made.
constexpr std::chrono::milliseconds kIpv4RetryDelay{1000};

/// The line the hub logs for a failed listener step.
std::string failureLine(const platform::ListenFailure& failure) {
  char line[64];
  switch (failure.call) {
    case platform::ListenCall::kResolve:
      std::snprintf(line, sizeof line, "getaddrinfo failed with error %d", failure.error);
      break;
    case platform::ListenCall::kSocket:
      std::snprintf(line, sizeof line, "socket() failed with error %d", failure.error);
      break;
    case platform::ListenCall::kBind:
      std::snprintf(line, sizeof line, "bind() failed with error %d", failure.error);
      break;
    case platform::ListenCall::kListen:
      std::snprintf(line, sizeof line, "listen() failed with error %d", failure.error);
      break;
    case platform::ListenCall::kWait:
      std::snprintf(line, sizeof line, "select() failed with error %d", failure.error);
      break;
    case platform::ListenCall::kAccept:
    default:
      std::snprintf(line, sizeof line, "accept() failed with error %d", failure.error);
      break;
  }
  return line;
}

}  // namespace

Listener::Listener(std::uint16_t tcpPort, std::atomic<ListenState>& listenState,
                   ConnectionContext connections, ThreadStarter startThread)
    : tcpPort_(tcpPort),
      listenState_(listenState),
      hub_(std::move(connections)),
      connections_(std::make_shared<ConnectionThreads>(endHubOnThreadFailure(hub_.log),
                                                       std::move(startThread))) {}

Listener::~Listener() {
  stop();
}

void Listener::start() {
  thread_ = std::thread(&Listener::run, this);
}

void Listener::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopRequested_.notify_all();
  sockets_.close();
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool Listener::waitForConnectionThreads(std::chrono::milliseconds limit) {
  return connections_->waitUntilAllEnded(limit);
}

void Listener::run() {
  common::runThread(
      progress_, [this] { listen(); }, endHubOnThreadFailure(hub_.log));
}

void Listener::listen() {
  progress_.mark(Phase::kStart);
  if (tcpPortInUse()) {
    listenState_ = ListenState::kTcpPortInUse;
    return;
  }
  listenState_ = ListenState::kListening;
  if (listenOnAllAddresses() == Outcome::kNoAddress && !stopping()) {
    hub_.log->log(" [WARNING] IPv6 feature could not use, using only IPv4!!");
    listenOnIpv4Only();
  }
}

// Another program listens on the TCP port when a connection to it on the loopback address succeeds.
bool Listener::tcpPortInUse() const {
  std::string err;
  return platform::TcpConnection::connect("127.0.0.1", tcpPort_, &err).has_value();
}

Listener::Outcome Listener::listenOnAllAddresses() {
  std::vector<platform::ListenFailure> failures;
  bool tooMany = false;
  progress_.mark(Phase::kTakingAddresses);
  const std::size_t listening = sockets_.listenOnAllAddresses(tcpPort_, &failures, &tooMany);
  for (const platform::ListenFailure& failure : failures) {
    hub_.log->log(failureLine(failure));
    if (failure.call == platform::ListenCall::kResolve) {
      progress_.mark(Phase::kResolveFailed);
      return Outcome::kNoAddress;
    }
  }
  if (tooMany) {
    char line[64];
    std::snprintf(line, sizeof line, "More than %d NIC was found, skipped some NIC to bind",
                  static_cast<int>(platform::kMaxListenSockets));
    hub_.log->log(line);
  }
  if (listening == 0) {
    progress_.mark(Phase::kNothingBound);
    hub_.log->log("Unable to bind to any address, trying recovery.");
    return Outcome::kNoAddress;
  }
  acceptOnAllAddresses();
  return Outcome::kEnded;
}

void Listener::acceptOnAllAddresses() {
  for (;;) {
    progress_.mark(Phase::kWaiting);
    std::optional<platform::TcpConnection> connection;
    platform::ListenFailure failure;
    const platform::AcceptStatus status = sockets_.accept(&connection, &failure);
    if (status == platform::AcceptStatus::kClosed) {
      return;
    }
    if (status != platform::AcceptStatus::kAccepted) {
      progress_.mark(failure.call == platform::ListenCall::kWait ? Phase::kWaitFailed
                                                                 : Phase::kAcceptFailed);
      if (status == platform::AcceptStatus::kFailed) {
        hub_.log->log(failureLine(failure));
        return;
      }
      // A failure that passes can come with every connection a client resets.
      hub_.log->logLimited(hub_.log->acceptFailureLines, failureLine(failure));
    }
    if (hub_.shutdown->isSet()) {
      progress_.mark(Phase::kShutdownSeen);
      sockets_.close();
      return;
    }
    if (connection) {
      takeConnection(std::move(*connection));
    }
  }
}

void Listener::listenOnIpv4Only() {
  progress_.rename("ListenThread");
  while (!openIpv4Only()) {
    if (!pauseUnlessStopped(kIpv4RetryDelay)) {
      return;
    }
  }
  hub_.portManager->logConnectionCount();
  acceptOnIpv4Only();
}

bool Listener::openIpv4Only() {
  progress_.mark(Phase::kIpv4Socket);
  platform::ListenFailure failure;
  if (sockets_.listenOnIpv4(tcpPort_, &failure)) {
    progress_.mark(Phase::kIpv4Listen);
    return true;
  }
  progress_.mark(failure.call == platform::ListenCall::kSocket ? Phase::kIpv4Socket
                                                               : Phase::kIpv4BindFailed);
  return false;
}

void Listener::acceptOnIpv4Only() {
  for (;;) {
    std::optional<platform::TcpConnection> connection;
    platform::ListenFailure failure;
    const platform::AcceptStatus status = sockets_.accept(&connection, &failure);
    if (status == platform::AcceptStatus::kClosed || status == platform::AcceptStatus::kFailed) {
      return;
    }
    if (hub_.shutdown->isSet()) {
      progress_.mark(Phase::kShutdownSeen);
      sockets_.close();
      return;
    }
    if (connection) {
      takeConnection(std::move(*connection));
    }
  }
}

void Listener::takeConnection(platform::TcpConnection accepted) {
  PortManager& portManager = *hub_.portManager;
  if (!portManager.reserveConnection()) {
    progress_.mark(Phase::kHubFull);
    accepted.close();
    hub_.log->logLimited(hub_.log->hubFullLines, " [WARNING] PORT COUNT EXCEEDS THE LIMIT!!");
    return;
  }
  progress_.mark(Phase::kCreatingPort);
  platform::PeerAddress peer = accepted.peerAddress();
  auto connection = std::make_shared<SocketPort>(
      *hub_.clock, hub_.log, std::make_unique<TcpPortConnection>(std::move(accepted)),
      std::move(peer));
  const std::string logName = connection->logName();
  if (!connections_->start(hub_, connection)) {
    // Nothing was logged for the connection yet, so the log stays balanced without a
    // " - DISCONNECTED". The slot is free again before the client sees its stream close.
    portManager.releaseConnection();
    hub_.log->logLimited(hub_.log->threadShortageLines,
                         logName + " [WARNING] CONNECTION REFUSED: no thread could be made for it");
    connection.reset();
  }
}

bool Listener::pauseUnlessStopped(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !stopRequested_.wait_for(lock, delay, [this] { return stopping_; });
}

bool Listener::stopping() {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

}  // namespace korvane::hub
