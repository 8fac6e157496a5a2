#include <gtest/gtest.h>

#include <string>

#include "platform/ProfileSections.h"
#include "platform/ProfileFile.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::platform::profile {
namespace {

using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

// Every answer must be the one that the profile-file readers give for the same file, since the
// hub reads the files through them.
TEST(ProfileSections, AnswersAsTheProfileReaders) {
  const std::string text =
      "\xEF\xBB\xBF[First]\r\n"
      "Key=one\r\n"
      "key=hidden by the first\r\n"
      "; Comment=not a key\r\n"
      "Quoted=\"quoted value\"\r\n"
      "Single='x'\r\n"
      "Padded =   spaced   \r\n"
      "Long=0123456789\r\n"
      "stray line without equals\r\n"
      "  [ Second ]  \n"
      "Key=two\n"
      "[first]\r\n"
      "Key=duplicate section\r\n"
      "Extra=only in the duplicate\r\n"
      "[]\r\n"
      "Key=empty name\r\n"
      "[Third\r\n"
      "Key=no closing bracket\r\n"
      "[Last]\r\n"
      "Key=no line end";
  TempProgramDir dir;
  const std::string path = dir.ini("sections.ini");
  writeFile(path, text);
  const ProfileSections sections(text);

  for (const std::size_t size : {std::size_t{1000}, std::size_t{20}, std::size_t{9}}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(sections.names(size), platform::profile::readSectionNames(path, size));
  }
  const char* sectionNames[] = {"First", "FIRST", "Second", " Second ",
                                "Third", "Last",  "",       "none"};
  const char* keys[] = {"Key",    "KEY",    "Comment", "; Comment", "Quoted",
                        "Single", "Padded", "Long",    "Extra",     "stray line without equals",
                        "missing"};
  for (const char* section : sectionNames) {
    for (const char* key : keys) {
      for (const std::size_t size : {std::size_t{256}, std::size_t{5}, std::size_t{1}}) {
        SCOPED_TRACE(std::string(section) + "/" + key + "/" + std::to_string(size));
        EXPECT_EQ(sections.readString(section, key, "<NONE>", size),
                  platform::profile::readString(path, section, key, "<NONE>", size));
      }
    }
  }
}

}  // namespace
}  // namespace korvane::platform::profile
