#pragma once

#include <QApplication>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "common/ManagerConfig.h"
#include "panel/logic/AccountModelCache.h"
#include "panel/logic/PanelStartup.h"
#include "panel/windows/HubWindow.h"
#include "panel/windows/MainWindow.h"
#include "panel/windows/PanelContext.h"
#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The control panel program: its start-up steps, what its windows share, its one main window
/// and the language switch, which rebuilds that window from the other language's pack.
class Panel : public StartupSteps {
 public:
  /// A panel for the program directory of this process; `argc` and `argv` go to the Qt
  /// application, which is made only when the panel shows windows (a language switch on the
  /// command line needs no display).
  Panel(int& argc, char** argv);
  ~Panel() override;

  void switchLanguage(Language language) override;
  bool loadLibrary() override;
  void unloadLibrary() override;
  bool isAdministrator() override;
  void showNotAdministrator() override;
  void firewallStep() override;
  void keepDomainSplitter() override;
  int runMainWindow() override;

  /// Builds and shows the main window; false when the library has no usable dialog 101.
  bool openMainWindow();
  /// The language switch of the menu: the packs replaced, the library loaded again, the main
  /// window built anew from it, the grants given again. A missing pack keeps the active files,
  /// and the window is rebuilt from them.
  void switchLanguageFromMenu(Language language);

  /// Lets the main window (this one and each rebuilt one) open hub windows of `kind`.
  void setOpener(HubWindowKind kind, HubWindowOpener opener);

  MainWindow* mainWindow() const { return mainWindow_.get(); }
  PanelContext& context() { return context_; }

 private:
  /// An open hub window, entered in the registry for as long as it is kept.
  struct OpenHubWindow {
    std::unique_ptr<HubWindow> window;
    std::unique_ptr<HubWindowRegistration> registration;  ///< goes before its window
  };

  void replacePacks(Language language);
  void applyGrants() const;
  void openStatusWindow(int hubNumber);
  void openAccountWindow(int hubNumber);
  void openFilterWindow(int hubNumber);
  /// Keeps `window` as the `kind` window of hub `hubNumber` until it closes.
  void keepHubWindow(HubWindowKind kind, int hubNumber, std::unique_ptr<HubWindow> window);
  /// Lets the `kind` window of hub `hubNumber` go once the call that closed it has returned.
  void forgetHubWindowLater(HubWindowKind kind, int hubNumber);

  int& argc_;
  char** argv_;
  std::unique_ptr<QApplication> application_;
  std::string programDirectory_;
  ResourceLibrary library_;
  common::ManagerConfig config_;
  AccountModelCache models_;
  HubWindowRegistry registry_;
  PanelContext context_;
  std::map<HubWindowKind, HubWindowOpener> openers_;
  std::unique_ptr<MainWindow> mainWindow_;
  std::map<std::pair<HubWindowKind, int>, OpenHubWindow> hubWindows_;
  QObject guard_;  ///< goes first, cancelling the calls queued for the windows above
};

}  // namespace korvane::panel
