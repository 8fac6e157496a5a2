#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/HubSettingsEditor.h"
#include "panel/logic/PortMappingEditor.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// Makes the router operations the port mapping dialog uses.
using PortMapperFactory = std::function<std::unique_ptr<PortMapper>()>;

/// The hub settings dialog (dialog 102) of one hub: loads the dialog, fills it from
/// HubSettingsEditor, applies the enabling rules and field helpers, and hands OK and Cancel to
/// the editor. The main window opens it for a hub it just created (`newHub`: Cancel deletes the
/// hub again) or for the selected hub, and refills its hub list afterwards.
class HubSettingsDialog {
 public:
  HubSettingsDialog(const ResourceLibrary& library, common::ManagerConfig& config,
                    AccountModelCache& models, int hubNumber, bool newHub, QWidget* parent);
  ~HubSettingsDialog();

  /// Shows the dialog modally; true when OK wrote the settings, false after Cancel or when the
  /// library has no dialog 102 (a new hub is then deleted again, as by Cancel).
  bool exec();
  /// Shows the dialog without waiting (window tests); the result comes with finished().
  void open();
  /// The dialog's widget; null when the library has no dialog 102.
  QDialog* dialog() const { return dialog_.get(); }
  /// The decisions behind the dialog, for tests that replace its router and hub seams.
  HubSettingsEditor& editor() { return *editor_; }
  /// Replaces the router of the port mapping dialog (UPnP discovery), for tests.
  void setPortMapperFactory(PortMapperFactory factory) { mapperFactory_ = std::move(factory); }

 private:
  void connectControls();
  void fill(const HubSettingsForm& form);
  HubSettingsForm form() const;
  void selectDomain(int index);
  void showDhcpMode(DhcpMode mode);
  void applyEnabling();
  void clampOnLeaving(int id, int highest);
  void ok();
  void generateKey();
  void mapPort();
  template <class T>
  T* control(int id) const {
    return ResourceLibrary::control<T>(dialog_.get(), id);
  }

  const ResourceLibrary& library_;
  common::ManagerConfig& config_;
  std::unique_ptr<QDialog> dialog_;
  std::unique_ptr<MessageBoxView> view_;
  std::unique_ptr<HubSettingsEditor> editor_;
  PortMapperFactory mapperFactory_;
  int domainIndex_ = 0;
};

}  // namespace korvane::panel
