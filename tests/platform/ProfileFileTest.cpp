#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProfileFile.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::platform::profile {
namespace {

using korvane::testing::fileExists;
using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

// Large enough for every value these tests read.
constexpr std::size_t kLargeBuffer = 65536;

std::string read(const std::string& path, std::string_view section, std::string_view key) {
  return readString(path, section, key, "<NONE>", kLargeBuffer);
}

// The names of the files in `folder`, sorted.
std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Changes with every replacement of the file, since a write renames a new file into place.
ino_t inodeOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return 0;
  }
  return status.st_ino;
}

mode_t permissionsOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return 0;
  }
  return status.st_mode & 07777;
}

// Runs `body` in a forked child that exits with 0 when the body returns true. The child is
// killed and reaped when the object goes, so a failing test leaves no process behind.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<bool()>& body) : pid_(::fork()) {
    if (pid_ == 0) {
      ::_exit(body() ? 0 : 1);
    }
  }
  ~ForkedChild() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  bool running() {
    if (pid_ <= 0 || status_) {
      return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
      return true;
    }
    status_ = status;
    return false;
  }

  /// The child's exit status; -1 when it did not start or did not exit normally.
  int wait() {
    if (pid_ <= 0) {
      return -1;
    }
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, 0) == pid_) {
      status_ = status;
    }
    return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
  }

 private:
  pid_t pid_;
  std::optional<int> status_;
};

// ---------------------------------------------------------------------------------------------
// Reading

TEST(ProfileFile, ComparesSectionAndKeyNamesWithoutCase) {
  TempProgramDir dir;
  const std::string path = dir.ini("case.ini");
  writeFile(path, "[Hub]\r\nPortNo=80\r\n[Ünïcode]\r\nKey=1\r\n");
  struct Row {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Row rows[] = {
      {"Hub", "PortNo", "80"},
      {"HUB", "portno", "80"},
      {"hub", "PORTNO", "80"},
      {"Hub", "Port", "<NONE>"},
      {"Hub2", "PortNo", "<NONE>"},
      // Only ASCII letters fold; other bytes must match exactly.
      {"Ünïcode", "key", "1"},
      {"ÜNÏCODE", "key", "<NONE>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.section) + "/" + row.key);
    EXPECT_EQ(read(path, row.section, row.key), row.expected);
  }
}

TEST(ProfileFile, TrimsBlanksAroundNamesAndValues) {
  TempProgramDir dir;
  const std::string path = dir.ini("blanks.ini");
  writeFile(path,
            "  [ Spaced ]  \r\n"
            "  Key One  =  value with inner  blanks \t\r\n"
            "\tTabbed\t=\t\tx\t\r\n"
            "Empty =   \r\n");
  struct Row {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Row rows[] = {
      {"Spaced", "Key One", "value with inner  blanks"},
      {" Spaced\t", "  Key One ", "value with inner  blanks"},
      {"Spaced", "Tabbed", "x"},
      {"Spaced", "Empty", ""},
      {"Spaced", "KeyOne", "<NONE>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.section) + "/" + row.key);
    EXPECT_EQ(read(path, row.section, row.key), row.expected);
  }
}

TEST(ProfileFile, RemovesOneMatchingPairOfQuotes) {
  TempProgramDir dir;
  const std::string path = dir.ini("quotes.ini");
  struct Row {
    const char* stored;
    const char* expected;
  };
  const Row rows[] = {
      // A matching pair goes, with the blanks inside it kept.
      {"\"abc\"", "abc"},
      {"'abc'", "abc"},
      {"  \"  x  \"  ", "  x  "},
      {"\"\"", ""},
      {"'a\"b'", "a\"b"},
      // Only one pair goes.
      {"\"\"abc\"\"", "\"abc\""},
      // Unmatched or lone quotes stay.
      {"\"abc'", "\"abc'"},
      {"\"abc", "\"abc"},
      {"abc\"", "abc\""},
      {"\"", "\""},
      {"a\"b\"", "a\"b\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    writeFile(path, std::string("[S]\r\nK=") + row.stored + "\r\n");
    EXPECT_EQ(read(path, "S", "K"), row.expected);
  }
}

TEST(ProfileFile, CutsValuesAndDefaultsToTheBufferSize) {
  TempProgramDir dir;
  const std::string path = dir.ini("cut.ini");
  writeFile(path, "[S]\r\nK=abcdef\r\nQ=\"quoted\"\r\n");
  struct Row {
    const char* key;
    std::size_t bufferSize;
    const char* expected;
  };
  const Row rows[] = {
      // A stored value keeps bufferSize - 1 characters.
      {"K", 0, ""},
      {"K", 1, ""},
      {"K", 2, "a"},
      {"K", 6, "abcde"},
      {"K", 7, "abcdef"},
      {"K", 100, "abcdef"},
      // Quotes go before the value is cut.
      {"Q", 4, "quo"},
      // The default is cut the same way.
      {"Missing", 0, ""},
      {"Missing", 1, ""},
      {"Missing", 4, "<NO"},
      {"Missing", 7, "<NONE>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.key) + " in " + std::to_string(row.bufferSize));
    EXPECT_EQ(readString(path, "S", row.key, "<NONE>", row.bufferSize), row.expected);
  }
  EXPECT_EQ(readString(dir.ini("missing.ini"), "S", "K", "<NONE>", 3), "<N");
}

TEST(ProfileFile, FirstOfDuplicateSectionsAndKeysWins) {
  TempProgramDir dir;
  const std::string path = dir.ini("duplicates.ini");
  writeFile(path,
            "[S]\r\nK=first\r\nk=second\r\n"
            "[s]\r\nK=third\r\nOnly=in the second section\r\n");
  EXPECT_EQ(read(path, "S", "K"), "first");
  // The later section is hidden as a whole, not merged into the first.
  EXPECT_EQ(read(path, "S", "Only"), "<NONE>");
  EXPECT_EQ(readSectionNames(path, kLargeBuffer), std::vector<std::string>{"S"});
  EXPECT_EQ(readKeyNames(path, "s", kLargeBuffer), std::vector<std::string>{"K"});
}

TEST(ProfileFile, SkipsCommentsAndLinesThatAreNoKeys) {
  TempProgramDir dir;
  const std::string path = dir.ini("comments.ini");
  writeFile(path,
            "Stray=before any section\r\n"
            "[S]\r\n"
            ";Commented=1\r\n"
            "  ; Indented=2\r\n"
            "NoEquals\r\n"
            "=nameless\r\n"
            "Real=3 ; not a comment\r\n");
  struct Row {
    const char* key;
    const char* expected;
  };
  const Row rows[] = {
      {"Commented", "<NONE>"},       {";Commented", "<NONE>"}, {"Indented", "<NONE>"},
      {"NoEquals", "<NONE>"},        {"", "<NONE>"},           {"Stray", "<NONE>"},
      {"Real", "3 ; not a comment"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    EXPECT_EQ(read(path, "S", row.key), row.expected);
  }
  EXPECT_EQ(readKeyNames(path, "S", kLargeBuffer), std::vector<std::string>{"Real"});
}

TEST(ProfileFile, ReadsCrLfAndLfLineEnds) {
  TempProgramDir dir;
  const std::string path = dir.ini("ends.ini");
  const char* const texts[] = {
      "[S]\r\nK=v\r\n[T]\r\nK=w\r\n", "[S]\nK=v\n[T]\nK=w\n",
      "[S]\nK=v\r\n[T]\r\nK=w\n",     "[S]\r\nK=v\r\n[T]\r\nK=w",
      "[S]\nK=v\n[T]\nK=w",           "\xEF\xBB\xBF[S]\r\nK=v\r\n[T]\r\nK=w\r\n",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    writeFile(path, text);
    EXPECT_EQ(read(path, "S", "K"), "v");
    EXPECT_EQ(read(path, "T", "K"), "w");
    EXPECT_EQ(readSectionNames(path, kLargeBuffer), (std::vector<std::string>{"S", "T"}));
  }
}

TEST(ProfileFile, UnreadableFileReadsAsEmpty) {
  TempProgramDir dir;
  EXPECT_EQ(read(dir.ini("missing.ini"), "S", "K"), "<NONE>");
  EXPECT_TRUE(readSectionNames(dir.ini("missing.ini"), kLargeBuffer).empty());
  EXPECT_TRUE(readKeyNames(dir.ini("missing.ini"), "S", kLargeBuffer).empty());
  std::filesystem::create_directory(dir.ini("folder.ini"));
  EXPECT_EQ(read(dir.ini("folder.ini"), "S", "K"), "<NONE>");
}

// ---------------------------------------------------------------------------------------------
// Listing names

TEST(ProfileFile, ListsNamesInFileOrderEachOnce) {
  TempProgramDir dir;
  const std::string path = dir.ini("list.ini");
  writeFile(path,
            "[Zeta]\r\nb=1\r\na=2\r\nB=3\r\n; c=4\r\n"
            "[alpha]\r\n"
            "[ZETA]\r\nc=1\r\n"
            "[]\r\nhidden=1\r\n"
            "[Mid]\r\nx=1\r\n");
  EXPECT_EQ(readSectionNames(path, kLargeBuffer),
            (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(readKeyNames(path, "zeta", kLargeBuffer), (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(readKeyNames(path, "alpha", kLargeBuffer).empty());
  EXPECT_TRUE(readKeyNames(path, "Missing", kLargeBuffer).empty());
}

// A packed list is "alpha\0beta\0gamma\0\0": 18 bytes for the three names.
TEST(ProfileFile, ListsOnlyWhatFitsAPackedBuffer) {
  TempProgramDir dir;
  const std::string path = dir.ini("packed.ini");
  writeFile(path, "[alpha]\r\nalpha=1\r\nbeta=2\r\ngamma=3\r\n[beta]\r\n[gamma]\r\n");
  using Names = std::vector<std::string>;
  struct Row {
    std::size_t bufferSize;
    Names expected;
  };
  const Row rows[] = {
      {0, {}},
      {1, {}},
      // "\0\0" has no room for a single character of the first name.
      {2, {}},
      {3, {"a"}},
      {6, {"alph"}},
      {7, {"alpha"}},
      // "alpha\0" + "bet\0\0".
      {11, {"alpha", "bet"}},
      {12, {"alpha", "beta"}},
      // Two bytes left after "alpha\0beta\0": the zeros only, so gamma is lost whole.
      {13, {"alpha", "beta"}},
      {14, {"alpha", "beta", "g"}},
      {17, {"alpha", "beta", "gamm"}},
      {18, {"alpha", "beta", "gamma"}},
      {1000, {"alpha", "beta", "gamma"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bufferSize);
    EXPECT_EQ(readSectionNames(path, row.bufferSize), row.expected);
    EXPECT_EQ(readKeyNames(path, "alpha", row.bufferSize), row.expected);
  }
}

// The account list is read into 512,000 bytes and every account section name is 256 characters
// long, so each takes 257 bytes: 1,992 names take 511,944 bytes, and the 1,993rd keeps the
// 54 characters that leave room for its two zero bytes in the last 56.
TEST(ProfileFile, AccountSizedListKeeps1992WholeNames) {
  constexpr std::size_t kAccountListBuffer = 512000;
  constexpr std::size_t kSealedNameLength = 256;
  constexpr std::size_t kSections = 2000;
  TempProgramDir dir;
  const std::string path = dir.ini("accounts.ini");
  std::vector<std::string> names;
  std::string text;
  for (std::size_t i = 0; i < kSections; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, kSealedNameLength - name.size(), 'A');
    text += "[" + name + "]\r\nStatus=0\r\n";
    names.push_back(std::move(name));
  }
  writeFile(path, text);
  const std::vector<std::string> listed = readSectionNames(path, kAccountListBuffer);
  ASSERT_EQ(listed.size(), 1993u);
  EXPECT_TRUE(std::equal(listed.begin(), listed.begin() + 1992, names.begin()));
  EXPECT_EQ(listed.back(), names[1992].substr(0, 54));
  // The cut name finds no section.
  EXPECT_EQ(read(path, listed.back(), "Status"), "<NONE>");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(ProfileFile, ReplacesAValueInPlaceKeepingEveryOtherByte) {
  TempProgramDir dir;
  const std::string path = dir.ini("inplace.ini");
  writeFile(path,
            "; settings\r\n"
            "[Hub]\r\n"
            "Name = old \r\n"
            "; note\r\n"
            "Junk line\n"
            "Port=80\n"
            "\r\n"
            "[Other]\r\n"
            "Name=x");
  std::string err;
  ASSERT_TRUE(writeString(path, "hub", "name", "new", &err)) << err;
  // The key keeps the spelling it has in the file.
  EXPECT_EQ(readFile(path),
            "; settings\r\n"
            "[Hub]\r\n"
            "Name=new\r\n"
            "; note\r\n"
            "Junk line\n"
            "Port=80\n"
            "\r\n"
            "[Other]\r\n"
            "Name=x");
  EXPECT_EQ(read(path, "Hub", "Name"), "new");
}

TEST(ProfileFile, AddsAKeyAfterTheLastKeyOfItsSectionOrANewSectionAtTheEnd) {
  TempProgramDir dir;
  const std::string path = dir.ini("append.ini");
  struct Row {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* after;
  };
  const Row rows[] = {
      {"after the last key, before blank lines", "[A]\r\nk1=1\r\n\r\n[B]\r\nk=2\r\n", "A", "k2",
       "[A]\r\nk1=1\r\nk2=v\r\n\r\n[B]\r\nk=2\r\n"},
      {"before a comment that leads into the next section", "[A]\r\nk1=1\r\n; B\r\n[B]\r\n", "A",
       "k2", "[A]\r\nk1=1\r\nk2=v\r\n; B\r\n[B]\r\n"},
      {"after the header of a section without keys", "[A]\r\n\r\n[B]\r\n", "A", "k2",
       "[A]\r\nk2=v\r\n\r\n[B]\r\n"},
      {"last section with trailing blank lines", "[A]\r\nk1=1\r\n\r\n\r\n", "A", "k2",
       "[A]\r\nk1=1\r\nk2=v\r\n\r\n\r\n"},
      {"last line without a line end", "[A]\r\nk1=1", "A", "k2", "[A]\r\nk1=1\r\nk2=v\r\n"},
      {"LF file", "[A]\nk1=1\n\n[B]\n", "A", "k2", "[A]\nk1=1\nk2=v\r\n\n[B]\n"},
      {"replaced last line without a line end", "[A]\r\nk1=1", "A", "k1", "[A]\r\nk1=v\r\n"},
      {"names trimmed, spelling of the file kept", "[ A ]\r\nKey=1\r\n", " a ", " KEY\t",
       "[ A ]\r\nKey=v\r\n"},
      {"first of duplicate sections", "[A]\r\nk=1\r\n[a]\r\nk=2\r\n", "a", "j",
       "[A]\r\nk=1\r\nj=v\r\n[a]\r\nk=2\r\n"},
      {"first of duplicate keys", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "[A]\r\nk=v\r\nK=2\r\n"},
      {"new section at the end", "[A]\r\nk1=1\r\n", "C", "k", "[A]\r\nk1=1\r\n[C]\r\nk=v\r\n"},
      {"new section after a line without a line end", "[A]\r\nk1=1", "C", "k",
       "[A]\r\nk1=1\r\n[C]\r\nk=v\r\n"},
      {"new section in an empty file", "", "C", "k", "[C]\r\nk=v\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(path, row.before);
    std::string err;
    ASSERT_TRUE(writeString(path, row.section, row.key, "v", &err)) << err;
    EXPECT_EQ(readFile(path), row.after);
    EXPECT_EQ(read(path, row.section, row.key), "v");
  }
}

TEST(ProfileFile, CreatesAMissingFileButNotAMissingFolder) {
  TempProgramDir dir;
  std::string err;
  ASSERT_TRUE(writeString(dir.ini("new.ini"), "SYSTEM", "DomainSplitter", "<NONE>", &err)) << err;
  EXPECT_EQ(readFile(dir.ini("new.ini")), "[SYSTEM]\r\nDomainSplitter=<NONE>\r\n");

  const std::string folder = dir.path() + "missing";
  EXPECT_FALSE(writeString(folder + "/new.ini", "S", "K", "v", &err));
  EXPECT_EQ(err, "open: No such file or directory");
  EXPECT_FALSE(fileExists(folder));
  // Removing from a file that cannot exist removes nothing, successfully.
  EXPECT_TRUE(deleteKey(folder + "/new.ini", "S", "K", &err)) << err;
  EXPECT_TRUE(deleteSection(folder + "/new.ini", "S", &err)) << err;
  EXPECT_FALSE(fileExists(folder));
}

TEST(ProfileFile, DeletesEveryLineOfAKeyInItsSection) {
  TempProgramDir dir;
  const std::string path = dir.ini("deletekey.ini");
  struct Row {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* after;
  };
  const Row rows[] = {
      {"key in the middle", "[A]\r\nk1=1\r\nk2=2\r\nk3=3\r\n", "A", "k2",
       "[A]\r\nk1=1\r\nk3=3\r\n"},
      // Removing only the first line of a duplicated key would bring the second to light.
      {"duplicates in the first section, later sections hidden anyway",
       "[A]\r\nK=1\r\nx=0\r\nk=2\r\n[a]\r\nk=3\r\n", "a", " k ", "[A]\r\nx=0\r\n[a]\r\nk=3\r\n"},
      {"comments stay", "[A]\r\n;k1=1\r\nk1=1\r\n", "A", "k1", "[A]\r\n;k1=1\r\n"},
      {"last line without a line end", "[A]\r\nk0=0\r\nk1=1", "A", "k1", "[A]\r\nk0=0\r\n"},
      {"missing key", "[A]\r\nk1=1\n", "A", "k2", "[A]\r\nk1=1\n"},
      {"key of another section", "[A]\r\nk1=1\r\n[B]\r\nk2=2\r\n", "A", "k2",
       "[A]\r\nk1=1\r\n[B]\r\nk2=2\r\n"},
      {"missing section", "[A]\r\nk1=1\r\n", "B", "k1", "[A]\r\nk1=1\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(path, row.before);
    std::string err;
    ASSERT_TRUE(deleteKey(path, row.section, row.key, &err)) << err;
    EXPECT_EQ(readFile(path), row.after);
    EXPECT_EQ(read(path, row.section, row.key), "<NONE>");
  }
}

TEST(ProfileFile, DeletesEverySectionOfAName) {
  TempProgramDir dir;
  const std::string path = dir.ini("deletesection.ini");
  struct Row {
    const char* name;
    const char* before;
    const char* section;
    const char* after;
  };
  const Row rows[] = {
      {"all sections of the name, with their lines",
       "[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n[ a ]\r\n; c\r\nc=1\r\n", "a", "[B]\r\nb=1\r\n"},
      {"lines before the first section stay", "; top\r\n[A]\r\na=1\r\n", "A", "; top\r\n"},
      {"last section", "[B]\r\nb=1\r\n[A]\r\na=1", "A", "[B]\r\nb=1\r\n"},
      {"missing section", "[B]\r\nb=1\n", "A", "[B]\r\nb=1\n"},
      {"byte order mark stays", "\xEF\xBB\xBF[A]\r\na=1\r\n[B]\r\n", "A", "\xEF\xBB\xBF[B]\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(path, row.before);
    std::string err;
    ASSERT_TRUE(deleteSection(path, row.section, &err)) << err;
    EXPECT_EQ(readFile(path), row.after);
    EXPECT_EQ(read(path, row.section, "a"), "<NONE>");
  }
}

TEST(ProfileFile, WriteThatChangesNothingLeavesTheFileAlone) {
  TempProgramDir dir;
  const std::string path = dir.ini("same.ini");
  writeFile(path, "[A]\r\nk=v\r\n");
  const ino_t before = inodeOf(path);
  std::string err;
  ASSERT_TRUE(writeString(path, "A", "k", "v", &err)) << err;
  ASSERT_TRUE(deleteKey(path, "A", "missing", &err)) << err;
  ASSERT_TRUE(deleteSection(path, "missing", &err)) << err;
  EXPECT_EQ(inodeOf(path), before);
  ASSERT_TRUE(writeString(path, "A", "k", "w", &err)) << err;
  EXPECT_NE(inodeOf(path), before);

  ASSERT_TRUE(deleteKey(dir.ini("absent.ini"), "A", "k", &err)) << err;
  ASSERT_TRUE(deleteSection(dir.ini("absent.ini"), "A", &err)) << err;
  EXPECT_FALSE(fileExists(dir.ini("absent.ini")));
}

TEST(ProfileFile, RefusesNamesAndValuesThatWouldNotReadBack) {
  TempProgramDir dir;
  const std::string path = dir.ini("refuse.ini");
  const std::string original = "[S]\r\nK=1\r\n";
  struct Row {
    std::string section;
    std::string key;
    std::string value;
    const char* error;
  };
  const Row rows[] = {
      {"S]x", "K", "v", "section name contains ']'"},
      {"S\nT", "K", "v", "section name contains a line break or a zero byte"},
      {"S\r", "K", "v", "section name contains a line break or a zero byte"},
      {"", "K", "v", "section name is empty"},
      {" \t ", "K", "v", "section name is empty"},
      {"S", "K=L", "v", "key contains '='"},
      {"S", "K\r\nL", "v", "key contains a line break or a zero byte"},
      {"S", std::string("K\0L", 3), "v", "key contains a line break or a zero byte"},
      {"S", "", "v", "key is empty"},
      {"S", "  ", "v", "key is empty"},
      {"S", ";K", "v", "key starts with ';' or '['"},
      {"S", " [K", "v", "key starts with ';' or '['"},
      {"S", "K", "one\r\n[T]\r\nK=two", "value contains a line break or a zero byte"},
      {"S", "K", "one\ntwo", "value contains a line break or a zero byte"},
      {"S", "K", "one\rtwo", "value contains a line break or a zero byte"},
      {"S", "K", std::string("a\0b", 3), "value contains a line break or a zero byte"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    writeFile(path, original);
    std::string err;
    EXPECT_FALSE(writeString(path, row.section, row.key, row.value, &err));
    EXPECT_EQ(err, row.error);
    EXPECT_EQ(readFile(path), original);
  }
  EXPECT_EQ(filesIn(dir.path() + "ini"), std::vector<std::string>{"refuse.ini"});
}

TEST(ProfileFile, KeepsPermissionBitsOfTheOldFile) {
  TempProgramDir dir;
  const std::string path = dir.ini("mode.ini");
  std::string err;
  // A new file is its owner's and group's whatever the umask; others never see what it holds.
  const mode_t mask = ::umask(0);
  ASSERT_TRUE(writeString(path, "S", "K", "1", &err)) << err;
  ::umask(mask);
  EXPECT_EQ(permissionsOf(path), 0660u);
  // A rewrite keeps the old bits, but takes away whatever others could do.
  for (const mode_t mode : {0600, 0640, 0604, 0444, 0666}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(writeString(path, "S", "K", std::to_string(mode), &err)) << err;
    EXPECT_EQ(read(path, "S", "K"), std::to_string(mode));
    EXPECT_EQ(permissionsOf(path), mode & ~mode_t{0007});
  }
}

TEST(ProfileFile, FailedWriteLeavesTheFileAndNoTemporaryFile) {
  TempProgramDir dir;
  const std::string path = dir.ini("fail.ini");
  const std::string original = "[S]\r\nK=1\r\n";
  writeFile(path, original);
  // A file size limit makes writing the new text fail after the temporary file was made.
  constexpr rlim_t kFileSizeLimit = 1024;
  ForkedChild child([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      return false;
    }
    std::string err;
    const bool written = writeString(path, "S", "Big", std::string(4 * kFileSizeLimit, 'x'), &err);
    return !written && err == "write: File too large";
  });
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(readFile(path), original);

  // A folder where the file should be cannot be read as the old text.
  std::filesystem::create_directory(dir.ini("folder.ini"));
  std::string err;
  EXPECT_FALSE(writeString(dir.ini("folder.ini"), "S", "K", "v", &err));
  EXPECT_EQ(err, dir.ini("folder.ini") + ": not a regular file");
  EXPECT_TRUE(std::filesystem::is_directory(dir.ini("folder.ini")));

  EXPECT_EQ(filesIn(dir.path() + "ini"), (std::vector<std::string>{"fail.ini", "folder.ini"}));
}

TEST(ProfileFile, LeavesNoTemporaryFilesBehind) {
  TempProgramDir dir;
  const std::string path = dir.ini("many.ini");
  std::string err;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(writeString(path, "S" + std::to_string(i % 3), "K" + std::to_string(i),
                            std::to_string(i), &err))
        << err;
  }
  ASSERT_TRUE(deleteKey(path, "S0", "K0", &err)) << err;
  ASSERT_TRUE(deleteSection(path, "S1", &err)) << err;
  EXPECT_EQ(readSectionNames(path, kLargeBuffer), (std::vector<std::string>{"S0", "S2"}));
  EXPECT_EQ(filesIn(dir.path() + "ini"), std::vector<std::string>{"many.ini"});
}

// ---------------------------------------------------------------------------------------------
// Two processes

// Enough writes for the processes to overlap many times, few enough for a second or two.
constexpr int kConcurrentWrites = 200;

TEST(ProfileFile, ReaderInAnotherProcessNeverSeesAPartialFile) {
  TempProgramDir dir;
  const std::string path = dir.ini("race.ini");
  // Long values and many lines make a file that a non-atomic write would expose half-written.
  const std::string first(4000, 'A');
  const std::string second(4000, 'B');
  std::string text = "[Data]\r\nValue=" + first + "\r\n";
  for (int i = 0; i < 100; ++i) {
    text += "[Filler" + std::to_string(i) + "]\r\nKey=" + std::string(40, 'f') + "\r\n";
  }
  text += "[End]\r\nMarker=present\r\n";
  writeFile(path, text);

  ForkedChild writer([&] {
    for (int i = 0; i < kConcurrentWrites; ++i) {
      std::string err;
      if (!writeString(path, "Data", "Value", i % 2 == 0 ? second : first, &err)) {
        return false;
      }
    }
    return true;
  });
  int reads = 0;
  int partialReads = 0;
  while (writer.running()) {
    const std::string value = read(path, "Data", "Value");
    const std::string marker = read(path, "End", "Marker");
    if ((value != first && value != second) || marker != "present") {
      ++partialReads;
    }
    ++reads;
  }
  EXPECT_EQ(writer.wait(), 0);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(partialReads, 0) << "of " << reads << " reads";
  EXPECT_EQ(read(path, "Data", "Value"), first);
  EXPECT_EQ(filesIn(dir.path() + "ini"), std::vector<std::string>{"race.ini"});
}

bool writeNumberedKeys(const std::string& path, const std::string& prefix) {
  for (int i = 0; i < kConcurrentWrites; ++i) {
    std::string err;
    if (!writeString(path, "Keys", prefix + std::to_string(i), std::to_string(i), &err)) {
      return false;
    }
  }
  return true;
}

TEST(ProfileFile, WritesSeveralChangesAsOneReplacement) {
  TempProgramDir dir;
  const std::string path = dir.ini("changes.ini");
  writeFile(path, "[A]\r\nold=1\r\n[B]\r\nx=1\r\n");
  std::string err;
  ASSERT_TRUE(
      writeChanges(path,
                   {ProfileChange::setValue("A", "k1", "v1"),
                    ProfileChange::setValue("A", "k2", "v2"), ProfileChange::removeKey("A", "old"),
                    ProfileChange::removeSection("B"), ProfileChange::setValue("C", "n", "1")},
                   &err))
      << err;
  EXPECT_EQ(readFile(path), "[A]\r\nk1=v1\r\nk2=v2\r\n[C]\r\nn=1\r\n");

  // One refused value stops the whole change before anything is written.
  const ino_t before = inodeOf(path);
  EXPECT_FALSE(writeChanges(
      path, {ProfileChange::setValue("A", "k3", "fine"), ProfileChange::setValue("A", "k=4", "v")},
      &err));
  EXPECT_NE(err.find("k=4"), std::string::npos) << err;
  EXPECT_EQ(inodeOf(path), before);
  EXPECT_EQ(read(path, "A", "k3"), "<NONE>");
}

TEST(ProfileFile, EditRefusesAndFailsWithoutWriting) {
  TempProgramDir dir;
  const std::string path = dir.ini("edit.ini");
  writeFile(path, "[A]\r\nk=1\r\n");
  std::string err;
  EXPECT_FALSE(editFile(
      path,
      [](ProfileText& profile, std::string* refusal) {
        profile.setValue("A", "k", "2");
        *refusal = "no, thanks";
        return false;
      },
      &err));
  EXPECT_EQ(err, "no, thanks");
  EXPECT_EQ(readFile(path), "[A]\r\nk=1\r\n");

  // A file that cannot be read is not edited as if it were empty.
  const std::string folder = dir.ini("folder.ini");
  std::filesystem::create_directory(folder);
  bool edited = false;
  EXPECT_FALSE(editFile(
      folder,
      [&](ProfileText&, std::string*) {
        edited = true;
        return true;
      },
      &err));
  EXPECT_FALSE(edited);
  EXPECT_FALSE(err.empty());
}

// Adds one to Counts/n, `times` times, each time deciding from the value the file holds.
bool incrementCounter(const std::string& path, int times) {
  for (int i = 0; i < times; ++i) {
    std::string err;
    const bool done = editFile(
        path,
        [](ProfileText& profile, std::string*) {
          const int now = std::stoi(profile.value("Counts", "n").value_or("0"));
          profile.setValue("Counts", "n", std::to_string(now + 1));
          return true;
        },
        &err);
    if (!done) {
      return false;
    }
  }
  return true;
}

TEST(ProfileFile, EditsInTwoProcessesNeverOvertakeEachOther) {
  TempProgramDir dir;
  const std::string path = dir.ini("counter.ini");
  ForkedChild child([&] { return incrementCounter(path, kConcurrentWrites); });
  EXPECT_TRUE(incrementCounter(path, kConcurrentWrites));
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(read(path, "Counts", "n"), std::to_string(2 * kConcurrentWrites));
}

TEST(ProfileFile, WritersInTwoProcessesKeepEachOthersKeys) {
  TempProgramDir dir;
  const std::string path = dir.ini("writers.ini");
  ForkedChild child([&] { return writeNumberedKeys(path, "child"); });
  EXPECT_TRUE(writeNumberedKeys(path, "parent"));
  EXPECT_EQ(child.wait(), 0);

  EXPECT_EQ(readKeyNames(path, "Keys", kLargeBuffer).size(), 2u * kConcurrentWrites);
  int missing = 0;
  for (int i = 0; i < kConcurrentWrites; ++i) {
    for (const char* prefix : {"child", "parent"}) {
      if (read(path, "Keys", prefix + std::to_string(i)) != std::to_string(i)) {
        ++missing;
      }
    }
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(filesIn(dir.path() + "ini"), std::vector<std::string>{"writers.ini"});
}

}  // namespace
}  // namespace korvane::platform::profile
