#include "common/DnsLog.h"

#include <algorithm>

#include "common/ProgramPaths.h"
#include "platform/WholeFile.h"

namespace korvane::common {

std::string dnsLogPath() {
  return logDirectory() + "dnsupdate.log";
}

std::string readDnsLog(const std::string& path, std::size_t maxBytes) {
  std::string content;
  std::string err;
  if (platform::readWholeFile(path, &content, &err) != platform::ReadOutcome::kRead) {
    return {};
  }
  content.resize(std::min(content.size(), maxBytes));
  return content;
}

bool writeDnsLog(const std::string& path, std::string_view text, std::string* err) {
  return platform::replaceWholeFile(path, text, err);
}

bool removeDnsLog(const std::string& path, std::string* err) {
  return platform::removeFile(path, err);
}

}  // namespace korvane::common
