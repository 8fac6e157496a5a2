#include "panel/logic/HubSettingsEditor.h"

#include <algorithm>

#include "common/DhcpFiles.h"
#include "common/DhcpSettings.h"
#include "common/ManagerConfigFormat.h"
#include "common/UpnpClient.h"
#include "common/Utf16.h"

namespace korvane::panel {
namespace {

/// The hub's DHCP settings file lies in the folder of the manager configuration file.
std::string dhcpSettingsPath(const common::ManagerConfig& config, int hubNumber) {
  const std::string& path = config.path();
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return folder + common::dhcpSettingsFileName(hubNumber);
}

bool removeWithUpnp(int port, std::string* err) {
  common::UpnpClient client;
  return client.deleteMapping(port, err);
}

HubDelivery reloadAccounts(int hubNumber, std::string* err) {
  return HubCommandClient().send(hubNumber, HubReload::kAccountsRecheck, err);
}

std::string numberText(int value) {
  return std::to_string(value);
}

}  // namespace

HubSettingsEditor::HubSettingsEditor(common::ManagerConfig& config, AccountModelCache& models,
                                     int hubNumber, bool newHub, MessageView& view)
    : config_(config),
      models_(models),
      hubNumber_(hubNumber),
      newHub_(newHub),
      view_(view),
      removeMapping_(removeWithUpnp),
      reload_(reloadAccounts) {
  domains_.emplace_back();
  domainNames_.emplace_back(common::kGlobalDomainName);
  std::string err;
  // A hub whose account file cannot be read offers the global domain only.
  AccountListModel* model = models_.model(hubNumber_, config_.readDomainSplitter(), &err);
  if (model == nullptr) {
    return;
  }
  for (const std::u16string& domain : model->domains()) {
    if (domain.empty()) {
      continue;
    }
    const std::optional<std::string> name = common::utf16ToUtf8(domain);
    if (!name) {
      continue;  // no section or key can be named by it
    }
    domains_.push_back(domain);
    domainNames_.push_back(*name);
  }
}

bool HubSettingsEditor::hubRunning() const {
  return config_.readStatus(hubNumber_).value_or(false);
}

HubSettingsForm HubSettingsEditor::initialForm() {
  HubSettingsForm form;
  form.name = config_.readName(hubNumber_);
  form.port = numberText(config_.readPort(hubNumber_));
  form.maxConnections = numberText(config_.readMaxConnections(hubNumber_));
  form.authentication = config_.readAuthFlag(hubNumber_) == 1;
  const common::LogRetention retention = config_.readLogRetention(hubNumber_);
  form.logDays = numberText(retention.days);
  form.logMonths = numberText(retention.months);
  loadDomain(0, &form);
  return form;
}

void HubSettingsEditor::loadDomain(std::size_t domainIndex, HubSettingsForm* form) const {
  const std::optional<std::string> text = common::domainFileText(domains_.at(domainIndex));
  std::string err;
  // A settings file that cannot be read shows what a domain without settings shows.
  const common::DhcpDomainSettings stored =
      common::readDhcpSettings(dhcpSettingsPath(config_, hubNumber_), text.value_or(""), &err)
          .value_or(common::DhcpDomainSettings{});
  const bool rangeStored =
      !stored.lowerAddress.empty() || !stored.upperAddress.empty() || !stored.subnetMask.empty();
  form->lowerAddress = rangeStored ? stored.lowerAddress : std::string(kDefaultLowerAddress);
  form->upperAddress = rangeStored ? stored.upperAddress : std::string(kDefaultUpperAddress);
  form->subnetMask = rangeStored ? stored.subnetMask : std::string(kDefaultSubnetMask);
  const LeaseTime lease =
      splitLeaseTime(std::max(0, stored.leaseSeconds.value_or(common::kDefaultDhcpLeaseSeconds)));
  form->leaseDays = numberText(lease.days);
  form->leaseHours = numberText(lease.hours);
  form->leaseMinutes = numberText(lease.minutes);
  const std::optional<std::string> blockName = common::utf16ToUtf8(domains_.at(domainIndex));
  if (config_.readDhcpBlock(hubNumber_, blockName.value_or("")) == 1) {
    form->dhcpMode = DhcpMode::kBlocking;
  } else {
    form->dhcpMode = stored.serviceOn ? DhcpMode::kService : DhcpMode::kNone;
  }
  form->key = stored.keyStored ? std::string(kForbiddenKeyText) : std::string();
}

bool HubSettingsEditor::accept(const HubSettingsForm& form, std::size_t domainIndex) {
  if (const std::optional<int> refusal = firstRefusal(form, hubNumber_, config_)) {
    view_.showMessage(*refusal);
    return false;
  }
  common::HubSettingsChange change;
  change.name = form.name;
  change.port = fieldNumber(form.port);
  change.authFlag = form.authentication ? 1 : 0;
  change.maxConnections = fieldNumber(form.maxConnections);
  change.garbageDays = fieldNumber(form.logDays);
  // The months field is clamped when it loses the focus; OK by the keyboard may come first.
  change.garbageMonths = std::min(fieldNumber(form.logMonths), kMaxLogMonths);
  std::string err;
  if (!config_.writeHubSettings(hubNumber_, change, &err) ||
      !writeDomain(form, domainIndex, &err)) {
    view_.showFailure(err);
    return false;
  }
  // The router forwards SNATPort to the port the hub had; a hub on another port leaves it
  // forwarding nowhere, and the hub maps SNATPort again itself when it next starts.
  const int snatPort = config_.readSnatPort(hubNumber_);
  if (snatPort > 0 && snatPort != *change.port) {
    (void)removeMapping_(snatPort, &err);
  }
  if (reload_(hubNumber_, &err) == HubDelivery::kNotConfirmed) {
    view_.showFailure(err);
  }
  return true;
}

bool HubSettingsEditor::writeDomain(const HubSettingsForm& form, std::size_t domainIndex,
                                    std::string* err) {
  const std::u16string& domain = domains_.at(domainIndex);
  const std::optional<std::string> text = common::domainFileText(domain);
  const std::optional<std::string> blockName = common::utf16ToUtf8(domain);
  if (!text || !blockName) {
    *err = "the domain's name cannot be written";
    return false;
  }
  common::DhcpSettingsWrite settings;
  settings.serviceOn = form.dhcpMode == DhcpMode::kService;
  settings.lowerAddress = form.lowerAddress;
  settings.upperAddress = form.upperAddress;
  settings.subnetMask = form.subnetMask;
  settings.leaseSeconds = leaseSeconds(
      {fieldNumber(form.leaseDays), fieldNumber(form.leaseHours), fieldNumber(form.leaseMinutes)});
  switch (readKeyEntry(form.key, &settings.key)) {
    case KeyEntry::kNewKey:
      settings.keyChange = common::NetworkKeyChange::kSet;
      break;
    case KeyEntry::kKeep:
      settings.keyChange = common::NetworkKeyChange::kKeep;
      break;
    case KeyEntry::kNone:
    case KeyEntry::kInvalid:  // refused before
      settings.keyChange = common::NetworkKeyChange::kClear;
      break;
  }
  // The domain's leases were handed out under the old settings; the hub starts its service
  // afresh with the new ones.
  return common::writeDhcpSettings(dhcpSettingsPath(config_, hubNumber_), *text, settings, err) &&
         config_.writeDhcpBlock(hubNumber_, *blockName,
                                form.dhcpMode == DhcpMode::kBlocking ? 1 : 0, err) &&
         config_.deleteLeases(hubNumber_, *text, err);
}

void HubSettingsEditor::cancel() {
  if (!newHub_) {
    return;
  }
  std::string err;
  if (!config_.deleteHub(hubNumber_, &err)) {
    view_.showFailure(err);
  }
  if (!models_.forgetHub(hubNumber_, &err)) {
    view_.showFailure(err);
  }
}

}  // namespace korvane::panel
