#include "panel/logic/LanguagePacks.h"

#include <filesystem>
#include <system_error>

#include "platform/Process.h"

namespace korvane::panel {

namespace fs = std::filesystem;

std::string installationDirectory(const std::string& programDirectory) {
  const fs::path programs = fs::path(programDirectory).lexically_normal().parent_path();
  return programs.parent_path().string() + "/";
}

PackFiles packFiles(const std::string& programDirectory, Language language) {
  const std::string word(languageWord(language));
  const std::string installation = installationDirectory(programDirectory);
  return PackFiles{programDirectory + kActiveLibraryName,
                   programDirectory + "OSTREL_LANG." + word + ".dat",
                   installation + kActiveHelpName, installation + "kv2." + word + ".dat"};
}

bool replaceWithPack(const std::string& pack, const std::string& active, std::string* err) {
  const fs::path target(active);
  // The process id keeps two panels that switch at the same moment off each other's copy.
  const fs::path temporary =
      target.parent_path() / ("." + target.filename().string() + "." +
                              std::to_string(platform::currentProcessId()) + ".tmp");
  std::error_code error;
  if (!fs::is_regular_file(pack, error)) {
    if (err != nullptr) {
      *err = pack + ": no such language pack";
    }
    return false;
  }
  if (fs::copy_file(pack, temporary, fs::copy_options::overwrite_existing, error)) {
    fs::rename(temporary, target, error);
  }
  if (error) {
    if (err != nullptr) {
      *err = "cannot replace " + active + " by " + pack + ": " + error.message();
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace korvane::panel
