#pragma once

#include <QDialog>
#include <memory>

#include "common/ManagerConfig.h"
#include "panel/logic/PortMappingEditor.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The router port mapping dialog (dialog 155) of one hub: the router's external port (the
/// hub's SNATPort), the state of its mapping to the hub's port, and the buttons that set and
/// remove it. Each router operation waits for the router on the GUI thread, as the dialog is
/// modal anyway.
class PortMappingDialog {
 public:
  /// The dialog for hub `hubNumber` listening on `hubPort`, asking `mapper`; over `parent`.
  PortMappingDialog(const ResourceLibrary& library, common::ManagerConfig& config, int hubNumber,
                    int hubPort, PortMapper& mapper, QWidget* parent);
  ~PortMappingDialog();

  /// Checks the stored mapping and shows the dialog modally until OK or Cancel; false when the
  /// library has no dialog 155.
  bool exec();
  /// Checks the stored mapping and shows the dialog without waiting (window tests).
  void open();
  /// The dialog's widget; null when the library has no dialog 155.
  QDialog* dialog() const { return dialog_.get(); }

 private:
  void showState(bool mapped);
  QString typedPort() const;

  const ResourceLibrary& library_;
  std::unique_ptr<QDialog> dialog_;
  std::unique_ptr<MessageBoxView> view_;
  std::unique_ptr<PortMappingEditor> editor_;
};

}  // namespace korvane::panel
