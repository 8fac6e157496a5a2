#include "panel/logic/PanelStartup.h"

namespace korvane::panel {

std::string_view languageWord(Language language) {
  return language == Language::kJapanese ? "japanese" : "english";
}

std::optional<Language> commandLineLanguage(const std::vector<std::string>& arguments) {
  std::string line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    line += (i == 0 ? "" : " ") + arguments[i];
  }
  for (const Language language : {Language::kJapanese, Language::kEnglish}) {
    if (line.find(languageWord(language)) != std::string::npos) {
      return language;
    }
  }
  return std::nullopt;
}

int runStartup(const std::vector<std::string>& arguments, StartupSteps& steps) {
  if (const std::optional<Language> language = commandLineLanguage(arguments)) {
    steps.switchLanguage(*language);
    return kStartupEndedExitStatus;
  }
  if (!steps.loadLibrary()) {
    return kStartupEndedExitStatus;
  }
  if (!steps.isAdministrator()) {
    steps.showNotAdministrator();
    steps.unloadLibrary();
    return kStartupEndedExitStatus;
  }
  steps.firewallStep();
  steps.keepDomainSplitter();
  return steps.runMainWindow();
}

bool keepDomainSplitter(common::ManagerConfig& config, std::string* err) {
  return config.writeDomainSplitter(config.readDomainSplitter(), err);
}

}  // namespace korvane::panel
