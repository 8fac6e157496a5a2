#include "hub/DhcpService.h"

#include <algorithm>
#include <cstdio>

#include "common/Aes128.h"
#include "common/Atoi.h"
#include "common/ClientRecord.h"
#include "common/Utf16.h"
#include "common/DottedAddress.h"
#include "platform/ProfileFile.h"

namespace korvane::hub {

using common::dottedText;
using common::kInvalidAddress;
using common::parseInetAddress;
namespace {

constexpr std::string_view kFlagKey = common::kDhcpFlagKey;
constexpr std::string_view kLowerKey = common::kDhcpLowerKey;
constexpr std::string_view kUpperKey = common::kDhcpUpperKey;
constexpr std::string_view kMaskKey = common::kDhcpMaskKey;
constexpr std::string_view kLeaseTimeKey = common::kDhcpLeaseTimeKey;
constexpr std::string_view kNetworkKeyKey = common::kDhcpNetworkKeyKey;
constexpr std::string_view kEnabledText = common::kDhcpFlagOn;
/// What a missing key reads as, so that a missing network key can be told from a stored one.
constexpr std::string_view kNoneText = "<NONE>";

constexpr MacAddress kZeroHardwareAddress = {};
constexpr MacAddress kBroadcastHardwareAddress = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::string settingsFilePath(const std::string& iniDirectory, int hubNumber) {
  return iniDirectory + common::dhcpSettingsFileName(hubNumber);
}

// A text with a '/' would name a file in another folder; such a domain's leases stay in memory.
std::string leaseFilePath(const std::string& iniDirectory, int hubNumber,
                          const std::optional<std::string>& domainText) {
  if (!domainText || domainText->find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
    return {};
  }
  return iniDirectory + dhcpLeaseFileName(hubNumber, *domainText);
}

// Only frames to everybody, to nobody in particular or to the service itself are its business.
bool addressedToService(std::span<const std::uint8_t> destination) {
  const auto is = [&destination](const MacAddress& address) {
    return std::equal(address.begin(), address.end(), destination.begin());
  };
  return is(kZeroHardwareAddress) || is(kBroadcastHardwareAddress) || is(kServiceHardwareAddress);
}

bool isValidSettingAddress(const std::optional<std::uint32_t>& address) {
  return address && *address != 0 && *address != kInvalidAddress;
}

std::size_t roundUpToBlock(std::size_t size) {
  return (size + common::kAesBlockSize - 1) / common::kAesBlockSize * common::kAesBlockSize;
}

}  // namespace

/// A record copied into the work buffer, its frame decrypted.
struct DhcpService::OpenedRecord {
  std::size_t frameLength = 0;  ///< the frame's length before padding
  bool encrypted = false;       ///< the record came with kind 2
  bool whole = false;           ///< the whole record fit into the work buffer
};

DhcpService::DhcpService(std::string iniDirectory, int hubNumber, std::u16string domain,
                         const platform::Clock& clock, std::shared_ptr<LeaseWriter> writer)
    : settingsPath_(settingsFilePath(iniDirectory, hubNumber)),
      domainText_(domainFileText(domain)),
      hubNumber_(hubNumber),
      domain_(std::move(domain)),
      clock_(clock),
      leases_(leaseFilePath(iniDirectory, hubNumber, domainText_), std::move(writer)) {}

void DhcpService::loadSettings() {
  disable();
  if (!domainText_) {
    return;  // no section can be named by this domain
  }
  const std::string section = dhcpSettingsSection(*domainText_);
  const auto read = [&](std::string_view key, std::string_view defaultValue) {
    return platform::profile::readString(settingsPath_, section, key, defaultValue,
                                         kDhcpSettingBufferBytes);
  };
  const bool flag = read(kFlagKey, "") == kEnabledText;
  lowerText_ = read(kLowerKey, "");
  upperText_ = read(kUpperKey, "");
  maskText_ = read(kMaskKey, "");
  const int leaseTime = common::atoiLike(read(kLeaseTimeKey, std::to_string(kDefaultLeaseTime)));
  leaseTime_ = std::max(kMinLeaseTime, static_cast<std::uint32_t>(std::max(leaseTime, 0)));
  const std::string sealedKey = read(kNetworkKeyKey, kNoneText);
  if (sealedKey != kNoneText) {
    networkKey_ = common::unsealNetworkKey(sealedKey).value_or(common::NetworkKey{});
  }

  const std::optional<std::uint32_t> lower = parseInetAddress(lowerText_);
  const std::optional<std::uint32_t> upper = parseInetAddress(upperText_);
  const std::optional<std::uint32_t> mask = parseInetAddress(maskText_);
  if (!flag || !isValidSettingAddress(lower) || !isValidSettingAddress(upper) ||
      !isValidSettingAddress(mask) || *lower > *upper) {
    return;
  }
  pool_ = {*lower, *upper};
  subnetMask_ = *mask;
  enabled_ = true;
}

void DhcpService::disable() {
  enabled_ = false;
  lowerText_.clear();
  upperText_.clear();
  maskText_.clear();
  pool_ = {};
  subnetMask_ = 0;
  leaseTime_ = kDefaultLeaseTime;
  networkKey_ = {};
}

bool DhcpService::loadLeases(std::string* err) {
  return leases_.load(err);
}

bool DhcpService::saveLeases(std::string* err) {
  return leases_.save(err);
}

bool DhcpService::sameSettings(const DhcpService& other) const {
  return enabled_ == other.enabled_ && lowerText_ == other.lowerText_ &&
         upperText_ == other.upperText_ && maskText_ == other.maskText_ &&
         leaseTime_ == other.leaseTime_ && networkKey_ == other.networkKey_;
}

std::string DhcpService::addressTextOf(std::span<const std::uint8_t, 6> mac) {
  MacAddress station;
  std::copy(mac.begin(), mac.end(), station.begin());
  const std::optional<std::uint32_t> address = leases_.addressOf(station);
  return address ? dottedText(*address) : std::string();
}

DhcpExamination DhcpService::handleFrame(std::span<const std::uint8_t> record, bool blockDhcp,
                                         std::span<std::uint8_t, kDhcpReplyBufferSize> reply,
                                         std::string* addressText) {
  if (!enabled_ && !blockDhcp) {
    return {};
  }
  const std::span<std::uint8_t> work(reply);
  const std::optional<OpenedRecord> opened = openRecord(record, work);
  if (!opened) {
    return {};
  }
  const std::span<std::uint8_t> frame = work.subspan(
      common::kFrameOffset, std::min(opened->frameLength, work.size() - common::kFrameOffset));
  // A disabled service has no address of its own to claim, even while it blocks DHCP.
  if (enabled_ && opened->whole && isArpRequestFor(frame, ownAddress())) {
    writeArpReply(frame, ownAddress());
    return finishReply(*opened, work, opened->frameLength);
  }
  if (!locateDhcpRequest(frame)) {
    return {};
  }
  if (blockDhcp) {
    return {DhcpVerdict::kDrop};
  }
  if (!opened->whole) {
    return {};
  }
  return answerDhcp(*opened, work, addressText);
}

// Copies the record into `work` and decrypts an encrypted frame there. std::nullopt for a record
// that is not the service's business or whose lengths do not add up.
std::optional<DhcpService::OpenedRecord> DhcpService::openRecord(
    std::span<const std::uint8_t> record, std::span<std::uint8_t> work) const {
  if (record.size() < common::kFrameOffset + kEthernetHeaderSize ||
      !addressedToService(record.subspan(common::kDestinationOffset, 6))) {
    return std::nullopt;
  }
  const std::size_t payloadLength = common::readBigEndian32(&record[common::kPayloadLengthOffset]);
  if (payloadLength < kEthernetHeaderSize || payloadLength > record.size() - common::kFrameOffset) {
    return std::nullopt;
  }
  OpenedRecord opened;
  opened.frameLength = payloadLength;
  opened.encrypted =
      common::readBigEndian32(&record[common::kKindOffset]) == common::kKindEncrypted;
  if (opened.encrypted) {
    const std::size_t plainLength = common::readBigEndian32(&record[common::kPlainLengthOffset]);
    if ((payloadLength - kEthernetHeaderSize) % common::kAesBlockSize != 0 ||
        plainLength < kEthernetHeaderSize || plainLength > payloadLength) {
      return std::nullopt;
    }
    opened.frameLength = plainLength;
  }
  const std::size_t total = common::kFrameOffset + payloadLength;
  const std::size_t copied = std::min(total, work.size());
  opened.whole = total <= work.size();
  std::copy_n(record.begin(), copied, work.begin());
  if (opened.encrypted) {
    // Of a record too long for the buffer, the blocks that fit are enough to tell DHCP apart.
    const std::size_t cipherStart = common::kFrameOffset + kEthernetHeaderSize;
    const std::size_t blocks = (copied - cipherStart) / common::kAesBlockSize;
    if (!common::aes128DecryptEcb(networkKey_,
                                  work.subspan(cipherStart, blocks * common::kAesBlockSize))) {
      return std::nullopt;
    }
  }
  return opened;
}

DhcpExamination DhcpService::answerDhcp(const OpenedRecord& opened, std::span<std::uint8_t> work,
                                        std::string* addressText) {
  const std::span<std::uint8_t> frame = work.subspan(common::kFrameOffset, opened.frameLength);
  const std::optional<DhcpLocation> location = locateDhcpRequest(frame);
  if (!location) {
    return {};
  }
  const std::optional<DhcpRequest> request = readDhcpRequest(frame, *location);
  if (!request) {
    return {};
  }
  const std::size_t replyLength = dhcpReplyFrameSize(*location);
  const std::size_t paddedLength =
      kEthernetHeaderSize + roundUpToBlock(replyLength - kEthernetHeaderSize);
  if (common::kFrameOffset + paddedLength > work.size()) {
    return {};
  }
  const std::optional<DhcpAnswer> answer = answerRequest(*request);
  if (!answer) {
    return {};
  }
  const std::span<std::uint8_t> replyFrame = work.subspan(common::kFrameOffset, replyLength);
  writeDhcpReply(replyFrame, *location, *request, *answer);
  if (answer->type != DhcpMessageType::kNak && addressText != nullptr) {
    *addressText = dottedText(answer->yourAddress);
  }
  return finishReply(opened, work, replyLength);
}

// What a DISCOVER or REQUEST gets; std::nullopt when nothing is to be answered.
std::optional<DhcpAnswer> DhcpService::answerRequest(const DhcpRequest& request) {
  const std::int64_t now = clock_.secondsSinceEpoch();
  if (request.type == DhcpMessageType::kRelease) {
    (void)leases_.release(request.clientAddress, request.station, pool_);
    return std::nullopt;
  }
  if (request.type != DhcpMessageType::kDiscover && request.type != DhcpMessageType::kRequest) {
    return std::nullopt;
  }
  const bool discover = request.type == DhcpMessageType::kDiscover;
  DhcpAnswer answer{.type = discover ? DhcpMessageType::kOffer : DhcpMessageType::kAck,
                    .serverAddress = ownAddress(),
                    .subnetMask = subnetMask_,
                    .leaseTime = leaseTime_};
  const std::optional<std::uint32_t> candidate =
      request.clientAddress != 0 ? std::optional(request.clientAddress) : request.requestedAddress;
  if (candidate) {
    const std::optional<bool> passed =
        leases_.check(*candidate, request.station, pool_, now, leaseTime_);
    if (!passed) {
      return std::nullopt;
    }
    if (*passed) {
      answer.yourAddress = *candidate;
      return answer;
    }
    if (!discover) {
      answer.type = DhcpMessageType::kNak;
      return answer;
    }
  }
  const std::optional<std::uint32_t> allocated =
      leases_.allocate(request.station, request.hostName, pool_, now, leaseTime_);
  if (!allocated) {
    return std::nullopt;
  }
  answer.yourAddress = *allocated;
  return answer;
}

// Completes the reply record around the frame in `work`: the received record's header with the
// new lengths, and the frame encrypted as the request was. kSwitch when encryption fails.
DhcpExamination DhcpService::finishReply(const OpenedRecord& opened, std::span<std::uint8_t> work,
                                         std::size_t frameLength) const {
  std::size_t payloadLength = frameLength;
  if (opened.encrypted) {
    const std::size_t cipherStart = common::kFrameOffset + kEthernetHeaderSize;
    const std::size_t cipherLength = roundUpToBlock(frameLength - kEthernetHeaderSize);
    const std::span<std::uint8_t> cipher = work.subspan(cipherStart, cipherLength);
    std::fill(cipher.begin() + static_cast<std::ptrdiff_t>(frameLength - kEthernetHeaderSize),
              cipher.end(), 0);
    if (!common::aes128EncryptEcb(networkKey_, cipher)) {
      return {};
    }
    common::writeBigEndian32(&work[common::kPlainLengthOffset],
                             static_cast<std::uint32_t>(frameLength));
    payloadLength = kEthernetHeaderSize + cipherLength;
  }
  common::writeBigEndian32(&work[common::kPayloadLengthOffset],
                           static_cast<std::uint32_t>(payloadLength));
  return {DhcpVerdict::kReply, common::kFrameOffset + payloadLength};
}

}  // namespace korvane::hub
