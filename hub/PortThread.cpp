#include "hub/PortThread.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "common/Utf16.h"
#include "hub/AccountStore.h"
#include "hub/DhcpDomains.h"
#include "hub/HostFilter.h"
#include "hub/PanelNotifier.h"
#include "hub/PortManager.h"
#include "hub/SendWriter.h"
#include "hub/ShutdownFlag.h"
#include "hub/ThreadCatchAll.h"
#include "hub/Utf8Text.h"
#include "platform/Priority.h"
#include "platform/Random.h"

namespace korvane::hub {
namespace {

using common::ControlType;
using common::kRecordHeaderSize;
using Header = std::array<std::uint8_t, kRecordHeaderSize>;

// How far the thread got, as the catch-all reports it ("iStepNo = %d").
enum class Phase : int {
  kStart = 1020,
  kDhcpExamination = 1182,
  kDhcpReply = 1183,
  kKeepAlive = 1184,
  kChallenge = 1185,
  kLoginWithoutAuth = 1186,
  kAnswerNotRequired = 1188,
  kIllegalAnswerLength = 1190,
  kAuthentication = 1192,
  kLoginAccepted = 1193,
  kLoginLogged = 1202,
  kLoginDenied = 1205,
  kForwarding = 1300,
  kNoBuffer = 8060,
  kCut = 8140,
  kReceiveError = 8141,
  kPeerClosed = 8142,
  kCleanUp = 9949,
  kCleanUpDone = 9950,
};

// What the connection list shows for a client that bridges a physical network.
constexpr std::string_view kBridgeText = "Bridge";

std::uint32_t field(std::span<const std::uint8_t> record, std::size_t offset) {
  return common::readBigEndian32(record.data() + offset);
}

void setField(std::span<std::uint8_t> record, std::size_t offset, std::uint32_t value) {
  common::writeBigEndian32(record.data() + offset, value);
}

Header headerOf(std::span<const std::uint8_t> record) {
  Header header;
  std::copy_n(record.begin(), kRecordHeaderSize, header.begin());
  return header;
}

/// A hub control record in place of a client's header: magic, payload length, kind 0, `type`
/// and plain length 0 written over it; bytes 20..31 stay as the client sent them.
void makeControl(std::span<std::uint8_t> header, ControlType type, std::uint32_t payloadLength) {
  setField(header, common::kMagicOffset, common::kRecordMagic);
  setField(header, common::kPayloadLengthOffset, payloadLength);
  setField(header, common::kKindOffset, common::kKindControl);
  setField(header, common::kTypeOffset, static_cast<std::uint32_t>(type));
  setField(header, common::kPlainLengthOffset, 0);
}

Header loginOkRecord() {
  common::RecordHeader header;
  header.type = static_cast<std::uint32_t>(ControlType::kLoginOk);
  header.option = 1;
  return common::encodeRecordHeader(header);
}

}  // namespace

PortThread::PortThread(ConnectionContext hub, std::shared_ptr<SocketPort> port)
    : hub_(std::move(hub)),
      connection_(std::move(port)),
      portManager_(hub_.portManager.get()),
      accounts_(hub_.accounts.get()) {}

void PortThread::run() {
  common::runThread(
      progress_, [this] { serve(); }, endHubOnThreadFailure(hub_.log));
}

void PortThread::serve() {
  progress_.mark(Phase::kStart);
  platform::raiseThreadPriority();
  const bool named = connection_->waitForHostName(kHostNameWait);
  logLine(named ? " + CONNECTED" : " + CONNECTED (Name resolution timeout)");
  if (admit()) {
    receiveUntilEnd();
  }
  cleanUp();
}

bool PortThread::admit() {
  if (hub_.filter != nullptr) {
    const auto decision = hub_.filter->checkPeer(connection_->peer(), connection_->hostName());
    if (!decision || !decision->allowed) {
      hub_.log->logLimited(hub_.log->filterRefusalLines,
                           connection_->logName() + " [WARNING] CONNECTION REJECTED by filter[" +
                               (decision ? decision->reason : "") + "]");
      return false;
    }
  }
  connection_->admit();
  portManager_->addPort(connection_);
  try {
    bufferStorage_ = std::make_unique_for_overwrite<std::uint8_t[]>(kReceiveBufferSize);
    buffer_ = std::span(bufferStorage_.get(), kReceiveBufferSize);
  } catch (const std::bad_alloc&) {
    progress_.mark(Phase::kNoBuffer);
    logLine(" - DISCONNECTED");  // " + CONNECTED" was logged: the log stays balanced
    return false;
  }
  if (!connection_->startSending(*hub_.sendWriter)) {
    progress_.mark(Phase::kNoBuffer);
    logLine(" - DISCONNECTED");
    return false;
  }
  hub_.panels->notify();
  return true;
}

void PortThread::receiveUntilEnd() {
  for (;;) {
    const std::span<std::uint8_t> room = buffer_.subspan(fill_);
    // A full buffer holds the start of a record that can never complete: the receive that
    // finds no room ends the connection as a close would.
    const long received = room.empty() ? 0 : connection_->receive(room);
    if (received <= 0) {
      const bool cut = connection_->wasCut() || hub_.shutdown->isSet();
      progress_.mark(cut ? Phase::kCut
                         : (received < 0 ? Phase::kReceiveError : Phase::kPeerClosed));
      logLine(cut ? " - CUT FROM HUB" : " - DISCONNECTED");
      return;
    }
    fill_ += static_cast<std::size_t>(received);
    if (handleBuffer() == Next::kEnd) {
      return;
    }
  }
}

// Handles every complete record in the buffer, a pass of at most kMaxRecordsPerPass at a time,
// and keeps the incomplete rest at the buffer's start.
PortThread::Next PortThread::handleBuffer() {
  for (;;) {
    const common::ParseResult parse =
        common::parseRecords(std::span(buffer_.data(), fill_), spans_);
    if (parse.count == 0) {
      // Nothing complete yet; a wrong magic in the very first header is not acted on here: the
      // bytes stay, and the connection ends when the buffer is full.
      return Next::kGoOn;
    }
    if (handlePass(parse) == Next::kEnd) {
      return Next::kEnd;
    }
    std::memmove(buffer_.data(), buffer_.data() + parse.consumed, fill_ - parse.consumed);
    fill_ -= parse.consumed;
  }
}

// Every record of the pass gets its fate once, in order; the records to switch go to the port
// manager together, and what the pass showed of the client's address is applied after it.
PortThread::Next PortThread::handlePass(const common::ParseResult& parse) {
  passTick_ = hub_.clock->tickCount();
  connection_->setLastReceiveTick(passTick_);
  AddressClues clues;
  std::size_t switched = 0;
  for (std::size_t i = 0; i < parse.count; ++i) {
    const std::span<const std::uint8_t> record = recordAt(i);
    switch (judge(record, clues)) {
      case Fate::kEnd:
        return Next::kEnd;
      case Fate::kSwitch:
        switched_[switched++] = record;
        break;
      case Fate::kAnswered:
      case Fate::kDropped:
        break;
    }
  }
  progress_.mark(Phase::kForwarding);
  portManager_->sendData(*connection_, std::span(switched_.data(), switched));
  learnAddressText(clues, recordAt(0));
  if (parse.preambleError) {
    logLine(" [WARNING] Preamble Error");
    logLine(" - CUT FROM HUB");
    progress_.mark(Phase::kCut);
    return Next::kEnd;
  }
  return Next::kGoOn;
}

std::span<const std::uint8_t> PortThread::recordAt(std::size_t index) const {
  return std::span<const std::uint8_t>(buffer_).subspan(spans_[index].offset, spans_[index].length);
}

// The login, authentication and keep-alive records are answered here and go no further; a
// control record of any other type is switched like a frame, by its destination.
PortThread::Fate PortThread::judge(std::span<const std::uint8_t> record, AddressClues& clues) {
  const bool control = field(record, common::kKindOffset) == common::kKindControl;
  const std::uint32_t type = field(record, common::kTypeOffset);
  if (control && isAnsweredByTheHub(type)) {
    return answerControl(record, type);
  }
  if (!mayUseTheSwitch()) {
    return Fate::kDropped;
  }
  if (control) {
    return Fate::kSwitch;
  }
  return judgeFrame(record, clues);
}

// Where the hub asks who a client is, a client that has not said so yet is heard only for its
// login and keep-alives: its frames are neither learned, nor answered by the DHCP service, nor
// switched, so that it cannot take a station's address, drain the address pool or reach anyone.
// Without authentication every client may log in at once, and its frames count from the start.
bool PortThread::mayUseTheSwitch() const {
  return hub_.authFlag != common::AuthFlag::kOn || connection_->state() == PortState::kLoggedIn;
}

bool PortThread::isAnsweredByTheHub(std::uint32_t type) {
  switch (static_cast<ControlType>(type)) {
    case ControlType::kKeepAlive:
    case ControlType::kLogin:
    case ControlType::kAuthAnswer:
      return true;
    default:
      return false;
  }
}

PortThread::Fate PortThread::answerControl(std::span<const std::uint8_t> record,
                                           std::uint32_t type) {
  switch (static_cast<ControlType>(type)) {
    case ControlType::kKeepAlive:
      answerKeepAlive(record);
      return Fate::kAnswered;
    case ControlType::kLogin:
      handleLogin(record);
      return Fate::kAnswered;
    case ControlType::kAuthAnswer:
      return handleAuthAnswer(record) == Next::kEnd ? Fate::kEnd : Fate::kAnswered;
    default:
      return Fate::kSwitch;
  }
}

// The echo is the header alone, so its payload length says 0 even when the keep-alive carried
// a payload: a length that announced bytes which never follow would break the client's stream.
void PortThread::answerKeepAlive(std::span<const std::uint8_t> record) {
  progress_.mark(Phase::kKeepAlive);
  Header echo = headerOf(record);
  setField(echo, common::kTypeOffset, static_cast<std::uint32_t>(ControlType::kKeepAliveEcho));
  setField(echo, common::kPayloadLengthOffset, 0);
  (void)connection_->sendControlData(echo);
}

void PortThread::handleLogin(std::span<const std::uint8_t> record) {
  if (field(record, common::kOptionOffset) == 1) {
    connection_->setKeepAlive();
  }
  if (hub_.authFlag != common::AuthFlag::kOn) {
    progress_.mark(Phase::kLoginWithoutAuth);
    acceptLogin(u"");
    return;
  }
  progress_.mark(Phase::kChallenge);
  std::array<std::uint8_t, common::kChallengeSize> challenge{};
  if (!platform::fillRandom(challenge)) {
    return;  // no predictable challenge is ever sent; the login deadline ends the connection
  }
  challenge_ = challenge;
  std::array<std::uint8_t, kRecordHeaderSize + common::kChallengeSize> reply{};
  std::copy_n(record.begin(), kRecordHeaderSize, reply.begin());
  makeControl(reply, ControlType::kAuthChallenge, common::kChallengeSize);
  std::copy(challenge.begin(), challenge.end(), reply.begin() + kRecordHeaderSize);
  (void)connection_->sendControlData(reply);
}

PortThread::Next PortThread::handleAuthAnswer(std::span<const std::uint8_t> record) {
  if (hub_.authFlag != common::AuthFlag::kOn) {
    progress_.mark(Phase::kAnswerNotRequired);
    logLine(" [WARNING] AUTHANS NOT REQUIRED");
    logLine(" - CUT FROM HUB");
    hub_.clock->sleepFor(kCloseDelay);
    return Next::kEnd;
  }
  if (field(record, common::kPayloadLengthOffset) != common::kChallengeSize) {
    progress_.mark(Phase::kIllegalAnswerLength);
    logLine(" [WARNING] ILLEGAL AUTHANS LENGTH");
    logLine(" - CUT FROM HUB");
    return Next::kEnd;
  }
  progress_.mark(Phase::kAuthentication);
  // A second answer on one connection gives back the account the first one counted, so that
  // every acquire() stays matched by exactly one release().
  if (!loginName_.empty()) {
    accounts_->release(loginName_);
    loginName_.clear();
  }
  const std::span<const std::uint8_t, common::kChallengeSize> answer(
      record.data() + kRecordHeaderSize, common::kChallengeSize);
  std::optional<AccountLogin> login;
  if (challenge_ && accounts_ != nullptr) {
    login = accounts_->authenticate(answer, *challenge_);
  }
  if (!login) {
    return refuseLogin(record, false);
  }
  loginName_ = login->name;
  if (!accounts_->acquire(login->name)) {
    return refuseLogin(record, true);
  }
  progress_.mark(Phase::kLoginAccepted);
  // The account's flags are in place before the port is logged in, so no frame is switched to
  // or from it under the defaults of a port without an account.
  connection_->setGuest(login->guest);
  connection_->setAccount(login->name, accounts_->domainIndexOfAccount(login->name));
  connection_->setBridgeAllow(login->bridgeAllow);
  acceptLogin(login->name);
  return Next::kGoOn;
}

// The port is logged in before LOGIN_OK goes out, in one step with queueing it: frames switched
// to the port from then on follow the LOGIN_OK and none is lost in between.
void PortThread::acceptLogin(std::u16string_view accountName) {
  const Header loginOk = loginOkRecord();
  (void)connection_->logIn(loginOk);
  progress_.mark(Phase::kLoginLogged);
  if (hub_.authFlag != common::AuthFlag::kOn) {
    logLine(" * LOGIN");
  } else {
    const std::string name = common::utf16ToUtf8(accountName).value_or("");
    logLine(" * LOGIN AUTH OK : " + std::string(cutUtf8(name, kLoggedAccountNameMax)));
  }
  hub_.panels->notify();
  portManager_->logConnectionCount();
}

PortThread::Next PortThread::refuseLogin(std::span<const std::uint8_t> record, bool authenticated) {
  progress_.mark(Phase::kLoginDenied);
  logLine(authenticated ? " [WARNING] USER CONNECTION TOO MUCH" : " [WARNING] LOGIN AUTH DENY");
  Header denied = headerOf(record);
  makeControl(denied, ControlType::kLoginDenied, 0);
  std::fill(denied.begin() + 26, denied.end(), 0);
  hub_.clock->sleepFor(kRefusedLoginDelay);
  (void)connection_->sendControlData(denied);
  logLine(" - CUT FROM HUB");
  hub_.clock->sleepFor(kCloseDelay);
  return Next::kEnd;
}

// A frame teaches the MAC table where its source lives and counts as received, and then the
// domain's DHCP service may answer it or hold it back.
PortThread::Fate PortThread::judgeFrame(std::span<const std::uint8_t> record, AddressClues& clues) {
  const std::optional<MacAddress> source = sourceOf(record);
  if (!source) {
    return Fate::kDropped;  // no Ethernet addresses: nothing to learn or switch by
  }
  if (!clues.firstSource) {
    clues.firstSource = source;
  }
  if (!bridgeSeen_ && !clues.bridged && isBridgedAddress(*source)) {
    clues.bridged = true;
    clues.shown = kBridgeText;
  }
  portManager_->learn(*source, *connection_, passTick_);
  connection_->addBytesReceived(record.size());
  return examineWithDhcp(record, clues);
}

PortThread::Fate PortThread::examineWithDhcp(std::span<const std::uint8_t> record,
                                             AddressClues& clues) {
  progress_.mark(Phase::kDhcpExamination);
  if (hub_.dhcp == nullptr) {
    return Fate::kSwitch;
  }
  std::array<std::uint8_t, kDhcpReplyBufferSize> reply{};
  std::string handedOut;
  const DhcpExamination examined = hub_.dhcp->examine(*connection_, record, reply, &handedOut);
  if (examined.verdict == DhcpVerdict::kDrop) {
    return Fate::kDropped;
  }
  if (examined.verdict != DhcpVerdict::kReply || examined.replyLength == 0 ||
      examined.replyLength > reply.size()) {
    return Fate::kSwitch;
  }
  progress_.mark(Phase::kDhcpReply);
  (void)connection_->sendControlData(std::span(reply.data(), examined.replyLength));
  clues.replied = true;
  if (!handedOut.empty()) {
    clues.shown = handedOut;
  }
  return Fate::kAnswered;
}

// The address the connection list shows, learned once per pass. In the order the pass would
// have set it: the first frame the port ever sent asks its domain's DHCP service for that
// station's lease (once, found or not, unless it came from a bridged network); "Bridge" when a
// bridged network first shows, or an address a DHCP reply handed out, whichever came last; and
// during the first kAddressLookups passes, until one is found, the lease of the pass's first
// record's source. The last text found is the one shown.
void PortThread::learnAddressText(const AddressClues& clues, std::span<const std::uint8_t> first) {
  std::string text;
  if (!addressKnown_ && clues.firstSource && !isBridgedAddress(*clues.firstSource)) {
    text = leasedAddressOf(*clues.firstSource);
  }
  if (!clues.shown.empty()) {
    text = clues.shown;
  }
  bridgeSeen_ = bridgeSeen_ || clues.bridged;
  addressKnown_ = addressKnown_ || clues.firstSource.has_value() || clues.replied;
  if (!addressFound_ && addressLookups_ < kAddressLookups && mayUseTheSwitch()) {
    ++addressLookups_;
    const std::optional<MacAddress> source = sourceOf(first);
    std::string found = source ? leasedAddressOf(*source) : std::string();
    if (!found.empty()) {
      text = std::move(found);
      addressFound_ = true;
    }
  }
  connection_->updateAddressText(text);
  if (clues.bridged || clues.replied) {
    hub_.panels->notify();
  }
}

std::string PortThread::leasedAddressOf(const MacAddress& station) const {
  return hub_.dhcp != nullptr ? hub_.dhcp->addressTextOf(*connection_, station) : std::string();
}

// Every path ends here. The stream is shut down and the sending stopped first, the port leaves
// the switch, and only then is the stream closed, so no other thread can touch a closed one.
void PortThread::cleanUp() {
  progress_.mark(Phase::kCleanUp);
  connection_->endConnection();
  if (!loginName_.empty() && accounts_ != nullptr) {
    accounts_->release(loginName_);
  }
  buffer_ = {};
  bufferStorage_.reset();
  portManager_->removePort(*connection_);
  connection_->closeConnection();
  portManager_->releaseConnection();
  progress_.mark(Phase::kCleanUpDone);
  hub_.panels->notify();
  portManager_->logConnectionCount();
}

void PortThread::logLine(std::string_view suffix) {
  hub_.log->log(connection_->logName().append(suffix));
}

}  // namespace korvane::hub
