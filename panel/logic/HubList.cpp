#include "panel/logic/HubList.h"

#include <cstdio>

#include "common/Atoi.h"
#include "common/DhcpFiles.h"
#include "common/ManagerConfigFormat.h"
#include "panel/logic/MainWindowText.h"
#include "platform/ProfileSections.h"
#include "platform/WholeFile.h"

namespace korvane::panel {
namespace {

/// A DHCP flag is read into the buffer of 128 bytes that the hub reads its settings into.
constexpr std::size_t kDhcpFlagBufferBytes = 128;
/// "%04d" of the longest number %d prints, with the terminating zero.
constexpr std::size_t kNumberTextBytes = 16;

int dhcpText(DhcpSummary summary) {
  switch (summary) {
    case DhcpSummary::kOff:
      return text::kOff;
    case DhcpSummary::kOn:
      return text::kOn;
    case DhcpSummary::kMixed:
      break;
  }
  return text::kMixed;
}

// Folds the sections' flags into one summary, visited in order.
class DhcpFold {
 public:
  void visit(bool on) {
    const DhcpSummary seen = on ? DhcpSummary::kOn : DhcpSummary::kOff;
    if (!summary_) {
      summary_ = seen;
    } else if (*summary_ != seen) {
      summary_ = DhcpSummary::kMixed;
    }
  }
  DhcpSummary result() const { return summary_.value_or(DhcpSummary::kMixed); }

 private:
  std::optional<DhcpSummary> summary_;
};

}  // namespace

int hubStateImage(bool running, bool authentication) {
  return (authentication ? 2 : 0) + (running ? 1 : 0);
}

std::array<std::string, kHubListColumns> hubRowTexts(const HubRow& row, const TextSource& text) {
  char number[kNumberTextBytes];
  std::snprintf(number, sizeof number, "%04d", row.number);
  return {row.name,
          row.port == 0 ? text(text::kPortNotSet) : std::to_string(row.port),
          number,
          text(row.running ? text::kRunning : text::kStopped),
          text(row.authentication ? text::kOn : text::kOff),
          text(dhcpText(row.dhcp))};
}

DhcpSummary summarizeDhcp(const std::string& iniDirectory, int hubNumber, char splitter,
                          AccountModelCache& models) {
  std::string content;
  std::string err;
  // A settings file that cannot be read has no section on: every service is off.
  (void)platform::readWholeFile(iniDirectory + common::dhcpSettingsFileName(hubNumber), &content,
                                &err);
  const platform::profile::ProfileSections settings(content);
  const auto isOn = [&](std::string_view domainText) {
    return settings.readString(common::dhcpSettingsSection(domainText), common::kDhcpFlagKey, "",
                               kDhcpFlagBufferBytes) == common::kDhcpFlagOn;
  };
  DhcpFold fold;
  fold.visit(isOn(""));
  AccountListModel* model = models.model(hubNumber, splitter, &err);
  if (model == nullptr) {
    return DhcpSummary::kMixed;
  }
  for (const std::u16string& domain : model->domains()) {
    if (domain.empty()) {
      continue;  // the global domain, the hub-wide section visited first
    }
    const std::optional<std::string> domainText = common::domainFileText(domain);
    fold.visit(domainText && isOn(*domainText));
  }
  return fold.result();
}

HubRow readHubRow(const common::ManagerConfigSnapshot& config, int hubNumber,
                  const std::string& iniDirectory, AccountModelCache& models) {
  HubRow row;
  row.number = hubNumber;
  row.name = config.readName(hubNumber);
  row.port = config.readPort(hubNumber);
  row.running = config.readStatus(hubNumber).value_or(false);
  row.authentication = config.readAuthFlag(hubNumber) != 0;
  row.dhcp = summarizeDhcp(iniDirectory, hubNumber, config.readDomainSplitter(), models);
  return row;
}

std::vector<HubRow> readHubRows(const common::ManagerConfigSnapshot& config,
                                const std::string& iniDirectory, AccountModelCache& models) {
  std::vector<HubRow> rows;
  for (const int number : config.listHubs()) {
    rows.push_back(readHubRow(config, number, iniDirectory, models));
  }
  return rows;
}

int hubNumberOfText(const std::string& numberText) {
  return static_cast<int>(common::leadingDecimal(numberText, 0, common::kMaxHubNumber));
}

}  // namespace korvane::panel
