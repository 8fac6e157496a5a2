#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>

#include "panel/windows/ResourceLibrary.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::TempProgramDir;

/// A program directory of the test's own whose active pack is a copy of the built `language`
/// pack.
void installPack(const TempProgramDir& dir, const char* language) {
  const QString pack = QStringLiteral(KORVANE_BINARY_DIR "OSTREL_LANG.%1.dat").arg(language);
  ASSERT_TRUE(
      QFile::copy(pack, QString::fromStdString(dir.path()) + ResourceLibrary::kActiveFileName))
      << pack.toStdString();
}

TEST(ResourceLibrary, MissingPackFailsToLoad) {
  TempProgramDir dir;
  ResourceLibrary library;
  std::string err;
  EXPECT_FALSE(library.load(QString::fromStdString(dir.path()), &err));
  EXPECT_NE(err.find("OSTREL_LANG.rcc"), std::string::npos) << err;
  EXPECT_FALSE(library.isLoaded());
  EXPECT_TRUE(library.text(18).isEmpty());
  EXPECT_EQ(library.dialog(126), nullptr);
}

TEST(ResourceLibrary, LoadsTheBuiltPacks) {
  for (const char* language : {"english", "japanese"}) {
    SCOPED_TRACE(language);
    TempProgramDir dir;
    installPack(dir, language);
    ResourceLibrary library;
    std::string err;
    ASSERT_TRUE(library.load(QString::fromStdString(dir.path()), &err)) << err;
    EXPECT_FALSE(library.text(18).isEmpty());
    const std::unique_ptr<QWidget> about = library.dialog(126);
    ASSERT_NE(about, nullptr);
    EXPECT_NE(ResourceLibrary::control<QLabel>(about.get(), 1100), nullptr);
    EXPECT_FALSE(library.icon(104).isNull());
  }
}

}  // namespace
}  // namespace korvane::panel
