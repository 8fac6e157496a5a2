#include "hub/Listener.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "hub/PortManager.h"
#include "hub/SocketPort.h"
#include "hub/TcpPortConnection.h"
#include "hub/ThreadCatchAll.h"

namespace korvane::hub {
namespace {

// Progress markers that the catch-all reports as "iStepNo = %d".
constexpr int kStepStart = 1001;
constexpr int kStepTakingAddresses = 1003;
constexpr int kStepAddressesFreed = 1010;
constexpr int kStepWaiting = 1013;
constexpr int kStepCreatingPort = 1022;
constexpr int kStepResolveFailed = 1081;
constexpr int kStepNothingBound = 1082;
constexpr int kStepWaitFailed = 1083;
constexpr int kStepAcceptFailed = 1084;
constexpr int kStepShutdownSeen = 8070;
constexpr int kStepHubFull = 8071;
constexpr int kStepIpv4Socket = 1010;
constexpr int kStepIpv4Listen = 1060;
constexpr int kStepIpv4BindFailed = 8050;

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

Listener::Listener(std::shared_ptr<HubState> state)
    : state_(std::move(state)), connections_(std::make_shared<ConnectionThreads>()) {}

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
  try {
    listen();
  } catch (...) {
    endProcessAfterException(*state_, catchLine_, step_);
  }
}

void Listener::listen() {
  if (portInUse()) {
    state_->listenState = ListenState::kPortInUse;
    return;
  }
  state_->listenState = ListenState::kListening;
  if (listenOnAllAddresses() == Outcome::kNoAddress && !stopping()) {
    state_->log(" [WARNING] IPv6 feature could not use, using only IPv4!!");
    listenOnIpv4Only();
  }
}

// Another program listens on the port when a connection to it on the loopback address succeeds.
bool Listener::portInUse() const {
  std::string err;
  return platform::TcpConnection::connect("127.0.0.1", state_->settings.portNo, &err).has_value();
}

Listener::Outcome Listener::listenOnAllAddresses() {
  step_ = kStepStart;
  std::vector<platform::ListenFailure> failures;
  bool tooMany = false;
  step_ = kStepTakingAddresses;
  const std::size_t listening =
      sockets_.listenOnAllAddresses(state_->settings.portNo, &failures, &tooMany);
  for (const platform::ListenFailure& failure : failures) {
    state_->log(failureLine(failure));
    if (failure.call == platform::ListenCall::kResolve) {
      step_ = kStepResolveFailed;
      return Outcome::kNoAddress;
    }
  }
  if (tooMany) {
    char line[64];
    std::snprintf(line, sizeof line, "More than %d NIC was found, skipped some NIC to bind",
                  static_cast<int>(platform::kMaxListenSockets));
    state_->log(line);
  }
  step_ = kStepAddressesFreed;
  if (listening == 0) {
    step_ = kStepNothingBound;
    state_->log("Unable to bind to any address, trying recovery.");
    return Outcome::kNoAddress;
  }
  acceptOnAllAddresses();
  return Outcome::kEnded;
}

void Listener::acceptOnAllAddresses() {
  for (;;) {
    step_ = kStepWaiting;
    std::optional<platform::TcpConnection> connection;
    platform::ListenFailure failure;
    const platform::AcceptStatus status = sockets_.accept(&connection, &failure);
    if (status == platform::AcceptStatus::kClosed) {
      return;
    }
    if (status != platform::AcceptStatus::kAccepted) {
      step_ = failure.call == platform::ListenCall::kWait ? kStepWaitFailed : kStepAcceptFailed;
      if (status == platform::AcceptStatus::kFailed) {
        state_->log(failureLine(failure));
        return;
      }
      // A failure that passes can come with every connection a client resets.
      state_->logLimited(state_->acceptFailureLines, failureLine(failure));
    }
    if (state_->shuttingDown()) {
      step_ = kStepShutdownSeen;
      sockets_.close();
      return;
    }
    if (connection) {
      takeConnection(std::move(*connection));
    }
  }
}

void Listener::listenOnIpv4Only() {
  catchLine_ = "Catch Exception in ListenThread";
  while (!openIpv4Only()) {
    if (!pauseUnlessStopped(kIpv4RetryDelay)) {
      return;
    }
  }
  state_->portManager->logConnectionCount();
  acceptOnIpv4Only();
}

bool Listener::openIpv4Only() {
  step_ = kStepIpv4Socket;
  platform::ListenFailure failure;
  if (sockets_.listenOnIpv4(state_->settings.portNo, &failure)) {
    step_ = kStepIpv4Listen;
    return true;
  }
  step_ = failure.call == platform::ListenCall::kSocket ? kStepIpv4Socket : kStepIpv4BindFailed;
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
    if (state_->shuttingDown()) {
      step_ = kStepShutdownSeen;
      sockets_.close();
      return;
    }
    if (connection) {
      takeConnection(std::move(*connection));
    }
  }
}

void Listener::takeConnection(platform::TcpConnection connection) {
  PortManager& ports = *state_->portManager;
  if (!ports.reserveConnection()) {
    step_ = kStepHubFull;
    connection.close();
    state_->logLimited(state_->hubFullLines, " [WARNING] PORT COUNT EXCEEDS THE LIMIT!!");
    return;
  }
  step_ = kStepCreatingPort;
  platform::PeerAddress peer = connection.peerAddress();
  auto port = std::make_shared<SocketPort>(
      *state_, std::make_unique<TcpPortConnection>(std::move(connection)), std::move(peer));
  if (!connections_->start(state_, std::move(port))) {
    ports.releaseConnection();  // the port and its connection go with the last reference
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
