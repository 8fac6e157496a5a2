#include "panel/logic/ConnectionRows.h"

namespace korvane::panel {
namespace {

// Logged in as a guest is shown apart from the connection's state.
constexpr int kGuestImage = 3;

int imageOf(const common::PortListEntry& entry) {
  if (entry.guest == 1) {
    return kGuestImage;
  }
  // A state from a newer hub that we do not know is shown as a new connection.
  return entry.state >= 0 && entry.state <= 2 ? entry.state : 0;
}

}  // namespace

std::string domainText(const std::string& account, char splitter) {
  const auto at = splitter == kNoDomainSplitter ? std::string::npos : account.find(splitter);
  return at == std::string::npos ? std::string(kGlobalDomainText) : account.substr(at + 1);
}

std::string addressText(const std::string& address) {
  return address.empty() ? std::string(kNoAddressText) : address;
}

std::string countText(const std::string& label, int count) {
  return label + " : " + std::to_string(count);
}

std::vector<ConnectionRow> connectionRows(const std::vector<common::PortListEntry>& entries,
                                          char splitter, const std::string& noAccountText) {
  std::vector<ConnectionRow> rows;
  rows.reserve(entries.size());
  for (const common::PortListEntry& entry : entries) {
    ConnectionRow row;
    row.image = imageOf(entry);
    row.columns = {entry.logName,
                   entry.account.empty() ? noAccountText : entry.account,
                   domainText(entry.account, splitter),
                   std::to_string(entry.kilobytesReceived) + " KB",
                   std::to_string(entry.kilobytesSent) + " KB",
                   addressText(entry.address)};
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace korvane::panel
