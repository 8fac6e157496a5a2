#include "panel/logic/PassCodeStore.h"

#include "common/DnsLog.h"

namespace korvane::panel {

bool storeNewPassCode(common::ManagerConfig& config, std::string_view passCode,
                      const std::string& dnsLogPath, std::string* warning, std::string* err) {
  std::string logErr;
  if (!common::writeDnsLog(dnsLogPath, common::kDnsLogPending, &logErr)) {
    *warning = "the DNS log cannot be reset: " + logErr;
  }
  return config.writePassCode(passCode, err);
}

}  // namespace korvane::panel
