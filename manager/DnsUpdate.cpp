#include "manager/DnsUpdate.h"

#include <cstdio>

#include "common/DnsLog.h"
#include "common/PassCode.h"

namespace korvane::manager {
namespace {

constexpr std::size_t kHardwareAddressBytes = 6;
// A hardware address with this bit set in its first byte was made up locally (a virtual or
// randomised one), so it does not name the machine.
constexpr std::uint8_t kLocallyAdministeredBit = 0x02;

constexpr std::string_view kCodeNotCorrectReply = "Error: UpdateCode is not correct.";
constexpr std::string_view kCodeInUseReply = "Error: UpdateCode is used by another device.";

bool qualifies(const platform::Adapter& adapter) {
  return (adapter.type == platform::AdapterType::kEthernet ||
          adapter.type == platform::AdapterType::kPpp) &&
         adapter.hardwareAddress.size() == kHardwareAddressBytes &&
         (adapter.hardwareAddress[0] & kLocallyAdministeredBit) == 0;
}

std::string machineAdapterAddress() {
  std::string err;
  return chooseAdapterAddress(platform::listAdapters(&err));
}

// Each write replaces the whole log; a log that cannot be written keeps its old text, as
// nothing else could be done about it here.
void writeLog(const DnsUpdateSettings& settings, std::string_view text) {
  std::string err;
  if (!common::writeDnsLog(settings.logPath, text, &err) && settings.diagnostics != nullptr) {
    *settings.diagnostics << "DNS update: " << err << '\n' << std::flush;
  }
}

DnsUpdateResult finish(const DnsUpdateSettings& settings, std::string_view text,
                       DnsUpdateResult result) {
  writeLog(settings, text);
  return result;
}

}  // namespace

std::string chooseAdapterAddress(const std::vector<platform::Adapter>& adapters) {
  for (const auto& adapter : adapters) {
    if (!qualifies(adapter)) {
      continue;
    }
    const auto& a = adapter.hardwareAddress;
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
  }
  return std::string(kNoAdapterAddress);
}

DnsUpdateResult runDnsUpdate(std::string_view passCode, const DnsUpdateSettings& settings) {
  const auto address = common::unscramblePassCode(passCode, settings.diagnostics);
  if (!address) {
    return finish(settings, "", DnsUpdateResult::kPassCodeRefused);
  }
  if (!common::isUpdateAddress(*address)) {
    return finish(settings, kUndecryptableText, DnsUpdateResult::kPassCodeRefused);
  }
  const std::string adapter =
      settings.adapterAddress ? settings.adapterAddress() : machineAdapterAddress();
  common::HttpRequest request;
  request.url = *address + "&mac_address=" + adapter;
  if (request.url.size() > kMaxUpdateUrlLength) {
    return finish(settings, kNoCommunicationText, DnsUpdateResult::kNoCommunication);
  }
  // The client leaves the log alone: the update writes it once, with its final text.
  request.replyBufferSize = kUpdateReplyBufferSize;
  request.connectLimit = settings.connectLimit;
  request.totalLimit = settings.totalLimit;
  request.cancel = settings.cancel;
  const common::HttpReply reply = common::sendHttpRequest(request);
  if (!reply.succeeded && settings.cancel != nullptr && settings.cancel->load()) {
    return DnsUpdateResult::kNoCommunication;  // the manager stops; the last outcome stays
  }
  if (!reply.succeeded) {
    if (settings.diagnostics != nullptr) {
      *settings.diagnostics << "DNS update: " << reply.detail << '\n' << std::flush;
    }
    return finish(settings, kNoCommunicationText, DnsUpdateResult::kNoCommunication);
  }
  const std::string_view text = reply.buffer;
  if (text.starts_with(kCodeNotCorrectReply)) {
    return finish(settings, kCodeNotCorrectText, DnsUpdateResult::kPassCodeRefused);
  }
  if (text.starts_with(kCodeInUseReply)) {
    return finish(settings, kCodeInUseText, DnsUpdateResult::kPassCodeInUse);
  }
  if (text.find("OK") != std::string_view::npos) {
    return finish(settings, reply.body, DnsUpdateResult::kSuccess);  // the whole reply
  }
  return finish(settings, kInvalidReplyText, DnsUpdateResult::kInvalidReply);
}

}  // namespace korvane::manager
