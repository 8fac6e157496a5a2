#pragma once

#include <string>
#include <vector>

namespace korvane::testing {

/// A program directory of the test's own under /tmp, with empty ini/ and log/ folders, removed
/// with everything in it when the object goes. Tests never touch another test's files.
class TempProgramDir {
 public:
  TempProgramDir();
  ~TempProgramDir();
  TempProgramDir(const TempProgramDir&) = delete;
  TempProgramDir& operator=(const TempProgramDir&) = delete;

  /// The directory, ending in '/'.
  const std::string& path() const { return path_; }
  std::string ini(const std::string& name) const { return path_ + "ini/" + name; }
  std::string log(const std::string& name) const { return path_ + "log/" + name; }

  /// Points programDirectory() of this process at the directory (KORVANE_PROGRAM_DIR); the
  /// previous value comes back when the object goes.
  void useForThisProcess();

 private:
  std::string path_;
  bool restoreVariable_ = false;
  bool hadVariable_ = false;
  std::string previousVariable_;
};

/// The whole content of a file, or an empty string when it cannot be read.
std::string readFile(const std::string& path);

/// The lines of a file without their line ends; empty when it cannot be read.
std::vector<std::string> readLines(const std::string& path);

/// Replaces the content of a file (creating it), failing the test when it cannot.
void writeFile(const std::string& path, const std::string& content);

bool fileExists(const std::string& path);

}  // namespace korvane::testing
