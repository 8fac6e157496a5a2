#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "panel/logic/LanguagePacks.h"
#include "panel/logic/PanelStartup.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::readFile;
using korvane::testing::writeFile;

TEST(PanelStartup, CommandLineSwitchesTheLanguageJapaneseFirst) {
  struct Row {
    std::vector<std::string> arguments;
    std::optional<Language> expected;
  };
  const Row rows[] = {
      {{}, std::nullopt},
      {{"english"}, Language::kEnglish},
      {{"japanese"}, Language::kJapanese},
      {{"--lang=japanese-x"}, Language::kJapanese},  // anywhere in the line
      {{"english", "japanese"}, Language::kJapanese},
      {{"japa", "nese"}, std::nullopt},  // the arguments are joined with a blank
      {{"English"}, std::nullopt},       // the words are compared as they are
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.arguments));
    EXPECT_EQ(commandLineLanguage(row.arguments), row.expected);
  }
}

// Records the steps in the order they run.
class RecordingSteps : public StartupSteps {
 public:
  void switchLanguage(Language language) override {
    steps.push_back("switch " + std::string(languageWord(language)));
  }
  bool loadLibrary() override {
    steps.push_back("load");
    return hasLibrary;
  }
  void unloadLibrary() override { steps.push_back("unload"); }
  bool isAdministrator() override {
    steps.push_back("admin?");
    return administrator;
  }
  void showNotAdministrator() override { steps.push_back("93"); }
  void firewallStep() override { steps.push_back("firewall"); }
  void keepDomainSplitter() override { steps.push_back("splitter"); }
  int runMainWindow() override {
    steps.push_back("window");
    return 3;
  }

  bool hasLibrary = true;
  bool administrator = true;
  std::vector<std::string> steps;
};

TEST(PanelStartup, StepsRunInOrderAndStopWhereTheyMust) {
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    bool hasLibrary;
    bool administrator;
    std::vector<std::string> steps;
    int status;
  };
  const Case cases[] = {
      {"a normal start", {}, true, true, {"load", "admin?", "firewall", "splitter", "window"}, 3},
      {"the language switch ends without a window",
       {"japanese"},
       true,
       true,
       {"switch japanese"},
       0},
      {"no library: silently", {}, false, true, {"load"}, 0},
      {"not an administrator", {}, true, false, {"load", "admin?", "93", "unload"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSteps steps;
    steps.hasLibrary = c.hasLibrary;
    steps.administrator = c.administrator;
    EXPECT_EQ(runStartup(c.arguments, steps), c.status);
    EXPECT_EQ(steps.steps, c.steps);
  }
}

TEST(PanelStartup, DomainSplitterIsWrittenBack) {
  korvane::testing::TempProgramDir dir;
  common::ManagerConfig config(dir.ini("Tollmar.ini"));
  ASSERT_TRUE(keepDomainSplitter(config, nullptr));
  EXPECT_NE(readFile(dir.ini("Tollmar.ini")).find("DomainSplitter=<NONE>"), std::string::npos);
  writeFile(dir.ini("Tollmar.ini"), "[SYSTEM]\r\nDomainSplitter=@@\r\n");
  ASSERT_TRUE(keepDomainSplitter(config, nullptr));
  EXPECT_EQ(readFile(dir.ini("Tollmar.ini")), "[SYSTEM]\r\nDomainSplitter=@\r\n");
}

TEST(LanguagePacks, SwitchCopiesThePackOverTheActiveFileOrKeepsIt) {
  korvane::testing::TempProgramDir dir;
  const std::string programs = dir.path() + "hub/";
  std::filesystem::create_directories(programs);
  const PackFiles files = packFiles(programs, Language::kJapanese);
  EXPECT_EQ(files.libraryPack, programs + "OSTREL_LANG.japanese.dat");
  EXPECT_EQ(files.activeHelp, dir.path() + "kv2.html");
  EXPECT_EQ(files.helpPack, dir.path() + "kv2.japanese.dat");
  writeFile(files.activeLibrary, "english library");

  std::string err;
  EXPECT_FALSE(replaceWithPack(files.libraryPack, files.activeLibrary, &err));
  EXPECT_NE(err.find("OSTREL_LANG.japanese.dat"), std::string::npos) << err;
  EXPECT_EQ(readFile(files.activeLibrary), "english library") << "a missing pack keeps the file";

  writeFile(files.libraryPack, "japanese library");
  // A reader that has the active file open (as the panel has its library mapped) keeps reading
  // the old content: the file is replaced by a rename, never written over.
  std::ifstream reader(files.activeLibrary);
  ASSERT_TRUE(replaceWithPack(files.libraryPack, files.activeLibrary, &err)) << err;
  EXPECT_EQ(readFile(files.activeLibrary), "japanese library");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "english library");
  EXPECT_EQ(readFile(files.libraryPack), "japanese library")
      << "the pack stays for the next switch";
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(programs)) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u) << "no temporary file is left";
}

}  // namespace
}  // namespace korvane::panel
