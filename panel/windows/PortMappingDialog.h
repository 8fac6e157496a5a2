#pragma once

#include <QDialog>
#include <memory>
#include <thread>

#include "common/ManagerConfig.h"
#include "panel/logic/PortMappingEditor.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The router port mapping dialog (dialog 155) of one hub: the router's external port (the
/// hub's SNATPort), the state of its mapping to the hub's port, and the buttons that set and
/// remove it. The router is asked on a thread of the dialog's own, since it may take seconds to
/// answer or never answer at all (no router): meanwhile the dialog repaints, shows string 197,
/// and takes no button, key or close until the answer is shown.
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
  /// Whether a question to the router is still running.
  bool asking() const { return worker_.joinable(); }

 private:
  /// Puts `request` to the router off the window's thread and shows the answer when it comes;
  /// a request the router is not asked about is answered at once.
  void ask(const RouterRequest& request);
  void setAsking(bool asking);
  void showState(bool mapped);
  QString typedPort() const;

  const ResourceLibrary& library_;
  std::unique_ptr<QDialog> dialog_;
  std::unique_ptr<MessageBoxView> view_;
  std::unique_ptr<PortMappingEditor> editor_;
  std::unique_ptr<QObject> inputGuard_;
  std::thread worker_;
};

}  // namespace korvane::panel
