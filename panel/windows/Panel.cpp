#include "panel/windows/Panel.h"

#include <iostream>
#include <string_view>

#include "common/InstallationGrants.h"
#include "common/ProgramPaths.h"
#include "panel/logic/FirewallStep.h"
#include "panel/logic/LanguagePacks.h"
#include "panel/logic/MainWindowText.h"
#include "panel/windows/AccountWindow.h"
#include "panel/windows/FilterWindow.h"
#include "panel/windows/FirewalldFirewall.h"
#include "panel/windows/MessageBoxes.h"
#include "panel/windows/ScreenshotMode.h"
#include "panel/windows/StatusWindow.h"
#include "platform/Administrator.h"
#include "platform/ProgramDirectory.h"

namespace korvane::panel {

static_assert(std::string_view(kActiveLibraryName) == ResourceLibrary::kActiveFileName,
              "a language switch replaces the file that the library loads");

Panel::Panel(int& argc, char** argv)
    : argc_(argc),
      argv_(argv),
      programDirectory_(platform::programDirectory()),
      config_(common::managerConfigPath()),
      models_(common::iniDirectory()),
      context_{library_, programDirectory_, config_, models_, registry_} {
  openers_[HubWindowKind::kStatus] = [this](int hubNumber) { openStatusWindow(hubNumber); };
  openers_[HubWindowKind::kAccounts] = [this](int hubNumber) { openAccountWindow(hubNumber); };
  openers_[HubWindowKind::kFilter] = [this](int hubNumber) { openFilterWindow(hubNumber); };
}

Panel::~Panel() {
  // The windows go before the library and the application they draw with.
  mainWindow_.reset();
  hubWindows_.clear();
}

void Panel::keepHubWindow(HubWindowKind kind, int hubNumber, std::unique_ptr<HubWindow> window) {
  OpenHubWindow& entry = hubWindows_[{kind, hubNumber}];
  entry.registration.reset();
  entry.window = std::move(window);  // a closed window of the hub not gone yet goes now
  entry.registration =
      std::make_unique<HubWindowRegistration>(registry_, kind, hubNumber, entry.window.get());
}

void Panel::forgetHubWindowLater(HubWindowKind kind, int hubNumber) {
  const auto found = hubWindows_.find({kind, hubNumber});
  if (found == hubWindows_.end()) {
    return;
  }
  // A closed window leaves the registry at once, so that the next command opens a new one; the
  // window itself is still in its close handler and goes once that has returned.
  found->second.registration.reset();
  const HubWindow* closed = found->second.window.get();
  QTimer::singleShot(0, &guard_, [this, kind, hubNumber, closed] {
    const auto still = hubWindows_.find({kind, hubNumber});
    if (still != hubWindows_.end() && still->second.window.get() == closed) {
      hubWindows_.erase(still);
    }
  });
}

void Panel::openStatusWindow(int hubNumber) {
  std::unique_ptr<StatusWindow> window = StatusWindow::create(library_, hubNumber);
  if (!window) {
    return;
  }
  QObject::connect(window.get(), &StatusWindow::closed, window.get(),
                   [this](int hub) { forgetHubWindowLater(HubWindowKind::kStatus, hub); });
  window->show();
  keepHubWindow(HubWindowKind::kStatus, hubNumber, std::move(window));
}

void Panel::openAccountWindow(int hubNumber) {
  // A change of the hub's domains shows in the main window's DHCP column at once.
  auto window = std::make_unique<AccountWindow>(library_, config_, models_, hubNumber, [this] {
    if (mainWindow_) {
      mainWindow_->fillList();
    }
  });
  if (window->window() == nullptr) {
    return;
  }
  window->onClosed = [this, hubNumber] {
    forgetHubWindowLater(HubWindowKind::kAccounts, hubNumber);
  };
  window->show();
  keepHubWindow(HubWindowKind::kAccounts, hubNumber, std::move(window));
}

void Panel::openFilterWindow(int hubNumber) {
  auto window = std::make_unique<FilterWindow>(library_, programDirectory_ + "ini/", hubNumber,
                                               QString::fromStdString(config_.readName(hubNumber)),
                                               config_.readPort(hubNumber));
  if (window->window() == nullptr) {
    return;
  }
  window->onClosed = [this, hubNumber] { forgetHubWindowLater(HubWindowKind::kFilter, hubNumber); };
  window->show();
  keepHubWindow(HubWindowKind::kFilter, hubNumber, std::move(window));
}

void Panel::replacePacks(Language language) {
  // A pack that is missing or cannot be copied leaves the active file; the panel then simply
  // goes on with the language it has.
  const PackFiles files = packFiles(programDirectory_, language);
  std::string err;
  (void)replaceWithPack(files.helpPack, files.activeHelp, &err);
  library_.unload();
  (void)replaceWithPack(files.libraryPack, files.activeLibrary, &err);
}

void Panel::applyGrants() const {
  common::applyInstallationGrants(programDirectory_, std::cout);
}

void Panel::switchLanguage(Language language) {
  replacePacks(language);
  applyGrants();
}

bool Panel::loadLibrary() {
  if (QApplication::instance() == nullptr) {
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  return library_.load(QString::fromStdString(programDirectory_));
}

void Panel::unloadLibrary() {
  library_.unload();
}

bool Panel::isAdministrator() {
  return platform::isAdministrator();
}

void Panel::showNotAdministrator() {
  panelMessageBox(nullptr, QMessageBox::Warning, library_.text(text::kNotAdministrator));
}

void Panel::firewallStep() {
  FirewalldFirewall firewall;
  MessageBoxView messages(library_, nullptr);
  runFirewallStep(config_, firewall, messages);
}

void Panel::keepDomainSplitter() {
  std::string err;
  if (!panel::keepDomainSplitter(config_, &err)) {
    MessageBoxView(library_, nullptr).showFailure(err);
  }
}

bool Panel::openMainWindow() {
  mainWindow_ = MainWindow::create(context_);
  if (!mainWindow_) {
    return false;
  }
  for (const auto& [kind, opener] : openers_) {
    mainWindow_->setOpener(kind, opener);
  }
  mainWindow_->setLanguageHandler([this](Language language) {
    // The switch destroys the window whose menu asked for it: it runs once the menu's call
    // has returned.
    QTimer::singleShot(0, &guard_, [this, language] { switchLanguageFromMenu(language); });
  });
  QObject::connect(mainWindow_.get(), &MainWindow::closed, QApplication::instance(),
                   &QApplication::quit);
  mainWindow_->window()->show();
  return true;
}

int Panel::runMainWindow() {
  QApplication::setQuitOnLastWindowClosed(false);  // the main window's close ends the panel
  if (!openMainWindow()) {
    return 1;
  }
  if (const QString folder = ScreenshotMode::folder(); !folder.isEmpty()) {
    ScreenshotMode::start(*this, folder);
  }
  return QApplication::exec();
}

void Panel::switchLanguageFromMenu(Language language) {
  if (mainWindow_) {
    mainWindow_->savePlacement();
    mainWindow_.reset();
  }
  replacePacks(language);
  (void)library_.load(QString::fromStdString(programDirectory_));
  (void)openMainWindow();
  applyGrants();
}

void Panel::setOpener(HubWindowKind kind, HubWindowOpener opener) {
  openers_[kind] = opener;
  if (mainWindow_) {
    mainWindow_->setOpener(kind, std::move(opener));
  }
}

}  // namespace korvane::panel
