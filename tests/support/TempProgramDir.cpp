#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ProgramDirectory.h"

namespace korvane::testing {

TempProgramDir::TempProgramDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "korvane-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary program directory";
    return;
  }
  path_ = pattern + '/';
  std::filesystem::create_directory(path_ + "ini");
  std::filesystem::create_directory(path_ + "log");
}

TempProgramDir::~TempProgramDir() {
  if (restoreVariable_) {
    if (hadVariable_) {
      setenv(platform::kProgramDirectoryVariable, previousVariable_.c_str(), 1);
    } else {
      unsetenv(platform::kProgramDirectoryVariable);
    }
  }
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

void TempProgramDir::useForThisProcess() {
  if (!restoreVariable_) {
    const char* previous = std::getenv(platform::kProgramDirectoryVariable);
    hadVariable_ = previous != nullptr;
    previousVariable_ = previous != nullptr ? previous : "";
    restoreVariable_ = true;
  }
  setenv(platform::kProgramDirectoryVariable, path_.c_str(), 1);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool fileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

}  // namespace korvane::testing
