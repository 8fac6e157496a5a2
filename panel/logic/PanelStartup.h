#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ManagerConfig.h"

/// The control panel's start-up: the language switch of its command line and the order of the
/// steps before the main window opens.
namespace korvane::panel {

/// The languages of the resource library and help packs; their words name the packs' files and
/// are the command line's switches.
enum class Language { kEnglish, kJapanese };

/// "english" or "japanese".
std::string_view languageWord(Language language);

/// The language the command line asks for: the arguments joined with single blanks hold
/// "japanese" anywhere (looked for first) or else "english". std::nullopt when neither.
std::optional<Language> commandLineLanguage(const std::vector<std::string>& arguments);

/// The steps of the start-up, carried out by the program's windows and platform code.
class StartupSteps {
 public:
  virtual ~StartupSteps() = default;
  /// Replaces the active packs by those of `language`, without a window.
  virtual void switchLanguage(Language language) = 0;
  /// Loads the resource library of the program directory; false when it is missing.
  virtual bool loadLibrary() = 0;
  virtual void unloadLibrary() = 0;
  /// True when the user may administer the hubs.
  virtual bool isAdministrator() = 0;
  /// Tells the user that only administrators may run the panel.
  virtual void showNotAdministrator() = 0;
  /// Opens the hubs' ports in the firewall where one runs, asking the user first.
  virtual void firewallStep() = 0;
  /// Reads the domain splitter and writes it back, so that the file holds it from now on.
  virtual void keepDomainSplitter() = 0;
  /// Shows the main window until it closes; the program's exit status.
  virtual int runMainWindow() = 0;
};

/// Exit status of a start-up that ended before the main window: the language switch and the
/// refusals end the program as a normal run ends.
inline constexpr int kStartupEndedExitStatus = 0;

/// Runs the start-up in its order: the command line's language switch (which ends the program),
/// the resource library (missing: end silently, there is no text to say why), the administrator
/// check, the firewall, the domain splitter, the main window. The program's exit status.
int runStartup(const std::vector<std::string>& arguments, StartupSteps& steps);

/// Reads SYSTEM/DomainSplitter and writes it straight back ("<NONE>" for no splitter), so that a
/// file without the key holds it afterwards; false with a message in `err` when the write fails.
[[nodiscard]] bool keepDomainSplitter(common::ManagerConfig& config, std::string* err);

}  // namespace korvane::panel
