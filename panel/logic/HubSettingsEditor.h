#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/HubCommandClient.h"
#include "panel/logic/HubSettingsForm.h"
#include "panel/logic/MessageView.h"

namespace korvane::panel {

/// Removes the router's mapping of an external TCP port; false with the reason in `err`.
using MappingRemover = std::function<bool(int port, std::string* err)>;
/// Tells a hub to reload its accounts, which also rebuilds its DHCP services.
using HubReloader = std::function<HubDelivery(int hubNumber, std::string* err)>;

/// The defaults a domain without stored settings shows.
inline constexpr std::string_view kDefaultLowerAddress = "192.168.200.1";
inline constexpr std::string_view kDefaultUpperAddress = "192.168.200.254";
inline constexpr std::string_view kDefaultSubnetMask = "255.255.255.0";

/// The hub settings dialog's decisions for one hub: what it shows, what OK checks and writes to
/// the manager configuration file and the hub's DHCP settings file, and what Cancel undoes. The
/// hub-wide settings go through ManagerConfig::writeHubSettings, as `kvctl hub set` writes them.
class HubSettingsEditor {
 public:
  /// The editor of hub `hubNumber`; `newHub` when the hub was created for this dialog, so that
  /// Cancel deletes it again. Messages go to `view`.
  HubSettingsEditor(common::ManagerConfig& config, AccountModelCache& models, int hubNumber,
                    bool newHub, MessageView& view);

  /// Replaces how the old router mapping is removed (UpnpClient) and how the hub is told to
  /// reload (HubCommandClient with command 5), for tests.
  void setRouter(MappingRemover remover) { removeMapping_ = std::move(remover); }
  void setReloader(HubReloader reloader) { reload_ = std::move(reloader); }

  int hubNumber() const { return hubNumber_; }
  /// True while the hub is switched on: its hub-wide settings are then read-only.
  bool hubRunning() const;

  /// The domain selector's entries: "-Global-", then the domains of the hub's accounts in the
  /// account model's order, as UTF-8.
  const std::vector<std::string>& domainNames() const { return domainNames_; }

  /// The hub-wide fields as the manager file holds them, and the global domain's DHCP fields.
  HubSettingsForm initialForm();
  /// Puts the stored DHCP settings of domain `domainIndex` (an index into domainNames()) into
  /// `form`: range and mask or the defaults, lease time split, option, key placeholder.
  void loadDomain(std::size_t domainIndex, HubSettingsForm* form) const;

  /// OK: shows the first refusal and returns false (the dialog stays open); otherwise writes
  /// the hub-wide settings and the DHCP settings of `domainIndex`, deletes that domain's lease
  /// file, removes the router mapping of an SNATPort that is no longer the hub's port, tells
  /// the hub to reload and returns true. A write that fails is shown and returns false.
  bool accept(const HubSettingsForm& form, std::size_t domainIndex);

  /// Cancel: deletes a new hub again, as the main window's Delete does, without asking.
  void cancel();

 private:
  [[nodiscard]] bool writeDomain(const HubSettingsForm& form, std::size_t domainIndex,
                                 std::string* err);

  common::ManagerConfig& config_;
  AccountModelCache& models_;
  int hubNumber_;
  bool newHub_;
  MessageView& view_;
  MappingRemover removeMapping_;
  HubReloader reload_;
  std::vector<std::u16string> domains_;  ///< by index; 0 is the global domain (empty)
  std::vector<std::string> domainNames_;
};

}  // namespace korvane::panel
