#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QResource>
#include <QUiLoader>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "panel/windows/ResourceLibrary.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::TempProgramDir;

const char* const kLanguages[] = {"english", "japanese"};

/// The built language pack of `language`.
QString packPath(const QString& language) {
  return QStringLiteral(KORVANE_BINARY_DIR "OSTREL_LANG.%1.dat").arg(language);
}

/// Makes the built `language` pack the active one of `dir`.
void installPack(const TempProgramDir& dir, const char* language) {
  testing::installPack(dir.path(), language);
}

// --- Loading ---------------------------------------------------------------------------------

TEST(ResourceLibrary, BadActiveFileFailsToLoadAndLeavesNothingLoaded) {
  struct Case {
    const char* name;
    std::function<void(const std::string& pack)> make;
  };
  const Case cases[] = {
      {"missing", [](const std::string&) {}},
      {"not a resource file",
       [](const std::string& pack) { korvane::testing::writeFile(pack, "OSTREL garbage\n"); }},
      {"larger than any pack",
       [](const std::string& pack) {
         korvane::testing::writeFile(pack, "");
         std::filesystem::resize_file(pack, ResourceLibrary::kMaxPackBytes + 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempProgramDir good;
    installPack(good, "english");
    ResourceLibrary library;
    ASSERT_TRUE(library.load(QString::fromStdString(good.path())));

    TempProgramDir bad;
    c.make(bad.path() + ResourceLibrary::kActiveFileName);
    std::string err;
    EXPECT_FALSE(library.load(QString::fromStdString(bad.path()), &err));
    EXPECT_NE(err.find(ResourceLibrary::kActiveFileName), std::string::npos) << err;
    // The pack loaded before is gone too: the panel never shows texts of a pack it replaced.
    EXPECT_FALSE(library.isLoaded());
    EXPECT_TRUE(library.text(18).isEmpty());
    EXPECT_EQ(library.dialog(126), nullptr);
    EXPECT_TRUE(library.icon(104).isNull());
  }
}

TEST(ResourceLibrary, IconOutlivesTheUnloadOfItsPack) {
  TempProgramDir dir;
  installPack(dir, "japanese");
  ResourceLibrary library;
  ASSERT_TRUE(library.load(QString::fromStdString(dir.path())));
  const QIcon icon = library.icon(105);
  library.unload();
  EXPECT_FALSE(icon.pixmap(16, 16).isNull());
  EXPECT_FALSE(icon.pixmap(32, 32).isNull());
}

// Qt's own button texts follow the pack: a Japanese message box does not say "Cancel" or
// "Yes", and they are English again once the English pack is loaded in its place.
TEST(ResourceLibrary, PackBringsQtsOwnButtonTextsInItsLanguage) {
  const QString translation =
      QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
  if (!QFile::exists(translation)) {
    GTEST_SKIP() << translation.toStdString()
                 << " is missing (Debian package qt6-translations-l10n)";
  }
  const auto buttonTexts = [] {
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    return QStringList{box.button(QMessageBox::Cancel)->text(),
                       box.button(QMessageBox::Yes)->text(), box.button(QMessageBox::No)->text()};
  };
  const QStringList english = buttonTexts();
  TempProgramDir dir;
  ResourceLibrary library;
  testing::loadPack(library, dir.path(), "japanese");
  EXPECT_EQ(library.language(), QStringLiteral("ja"));
  EXPECT_TRUE(library.hasQtTranslation());
  const QStringList japanese = buttonTexts();
  for (int i = 0; i < english.size(); ++i) {
    SCOPED_TRACE(english[i].toStdString());
    EXPECT_NE(japanese[i], english[i]);
  }
  EXPECT_EQ(japanese[0], QString::fromUtf8("キャンセル"));

  testing::loadPack(library, dir.path(), "english");
  EXPECT_EQ(library.language(), QStringLiteral("en"));
  EXPECT_FALSE(library.hasQtTranslation());
  EXPECT_EQ(buttonTexts(), english);
}

// --- The strings file format -------------------------------------------------------------------

TEST(ParseStringTable, ReadsIdsTextsAndEscapes) {
  std::unordered_map<int, QString> table;
  std::string err;
  ASSERT_TRUE(parseStringTable(
      "# comment\n\n15\tDelete?\\n\\nSure.\r\n16\tTab\\there \\\\ %d\n93\t\n", &table, &err))
      << err;
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table[15], QStringLiteral("Delete?\n\nSure."));
  EXPECT_EQ(table[16], QStringLiteral("Tab\there \\ %d"));
  EXPECT_EQ(table[93], QString());
}

TEST(ParseStringTable, MalformedLineFailsNamingTheLine) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"1\tok\nno tab here\n", "line 2"}, {"1\tok\n\tno id\n", "line 2"},
      {"x1\ttext\n", "line 1"},           {"0\tzero\n", "line 1"},
      {"70000\tlarge\n", "line 1"},       {"5\tone\n# c\n5\ttwo\n", "line 3"},
      {"5\tbad \\q escape\n", "line 1"},  {"5\ttrailing \\\n", "line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::unordered_map<int, QString> table{{99, QStringLiteral("kept")}};
    std::string err;
    EXPECT_FALSE(parseStringTable(c.text, &table, &err));
    EXPECT_NE(err.find(c.line), std::string::npos) << err;
    EXPECT_EQ(table.size(), 1u) << "a failed parse leaves the table as it was";
  }
}

// --- Buffer limits ---------------------------------------------------------------------------

TEST(ResourceLibrary, CutsToTheBufferWithoutSplittingACharacter) {
  const QString ja = QStringLiteral("ハブ");  // 3 bytes of UTF-8 each
  const struct {
    QString text;
    int bufferBytes;
    QString expected;
  } cases[] = {
      {QStringLiteral("abcd"), 5, QStringLiteral("abcd")},  // fits with its terminator
      {QStringLiteral("abcde"), 5, QStringLiteral("abcd")},
      {ja, 7, ja},
      {ja, 6, QStringLiteral("ハ")},  // the second character would need bytes 4 to 6
      {ja, 4, QStringLiteral("ハ")},
      {ja, 3, QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString() + " in " + std::to_string(c.bufferBytes));
    EXPECT_EQ(ResourceLibrary::cutToBuffer(c.text, c.bufferBytes), c.expected);
  }
  EXPECT_EQ(ResourceLibrary::textBufferBytes(62), ResourceLibrary::kCellTextBufferBytes);
  EXPECT_EQ(ResourceLibrary::textBufferBytes(33), ResourceLibrary::kListTextBufferBytes);
  EXPECT_EQ(ResourceLibrary::textBufferBytes(15), ResourceLibrary::kMessageBufferBytes);
}

TEST(HelpPacks, BothLanguagesCoverTheSameSectionsAndStandAlone) {
  // The ids of a page's sections: the topics the help covers.
  const auto sections = [](const char* language) {
    QFile page(QStringLiteral(KORVANE_INSTALL_DIR "kv2.%1.dat").arg(language));
    EXPECT_TRUE(page.open(QIODevice::ReadOnly)) << language;
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_FALSE(html.contains(u'@')) << language << ": a marker was left in the page";
    EXPECT_FALSE(html.contains(QStringLiteral("src="))) << language << ": the page loads a file";
    QStringList ids;
    static const QRegularExpression id(QStringLiteral(R"re(<h2 id="([a-z]+)")re"));
    for (auto it = id.globalMatch(html); it.hasNext();) {
      ids << it.next().captured(1);
    }
    return ids;
  };
  const QStringList english = sections("english");
  EXPECT_EQ(english, sections("japanese"));
  for (const char* topic :
       {"start", "list", "hubs", "accounts", "filter", "dhcp", "status", "language"}) {
    EXPECT_TRUE(english.contains(QLatin1String(topic))) << topic;
  }
}

// --- The built packs -------------------------------------------------------------------------

/// Both built packs mapped side by side under /english and /japanese.
class LanguagePacks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* language : kLanguages) {
      ASSERT_TRUE(QResource::registerResource(packPath(language), QStringLiteral("/") + language))
          << language;
    }
  }
  static void TearDownTestSuite() {
    for (const char* language : kLanguages) {
      QResource::unregisterResource(packPath(language), QStringLiteral("/") + language);
    }
  }

  static std::unordered_map<int, QString> strings(const QString& language) {
    QFile file(QStringLiteral(":/%1/strings.txt").arg(language));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << language.toStdString();
    std::unordered_map<int, QString> table;
    std::string err;
    EXPECT_TRUE(parseStringTable(file.readAll(), &table, &err)) << err;
    return table;
  }

  static QStringList entries(const QString& language, const QString& folder) {
    return QDir(QStringLiteral(":/%1/%2").arg(language, folder)).entryList(QDir::Files);
  }
};

/// Every string the panel's windows show, by the window that shows it.
const int kRequiredStringIds[] = {
    // main window and start-up
    1, 2, 5, 7, 15, 16, 18, 19, 33, 34, 35, 36, 37, 38, 39, 40, 41, 54, 60, 93, 100, 101, 104,
    // status window
    8, 9, 10, 11, 12, 13, 14, 17, 49, 55, 102,
    // account window and CSV exchange
    22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 56, 57, 58, 59, 61, 62, 63, 65, 66, 79, 80, 81, 82,
    83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 103, 160, 161, 162,
    // filter window, hub settings, router port mapping, registration wizard
    64, 67, 68, 69, 148, 149, 151, 152, 3, 4, 50, 51, 52, 53, 71, 73, 74, 75, 76, 77, 197, 107, 108};

TEST_F(LanguagePacks, HoldEveryStringInBothLanguagesWithTheSameFormats) {
  const auto english = strings("english");
  const auto japanese = strings("japanese");
  for (const int id : kRequiredStringIds) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(english.contains(id) && !english.at(id).isEmpty());
    EXPECT_TRUE(japanese.contains(id) && !japanese.at(id).isEmpty());
  }
  // The panel fills a format with the same arguments whatever the language.
  static const QRegularExpression conversion(QStringLiteral("%[-+ #0-9.]*[a-zA-Z%]"));
  const auto conversions = [](const QString& text) {
    QStringList found;
    for (auto it = conversion.globalMatch(text); it.hasNext();) {
      found << it.next().captured();
    }
    return found.join(u' ').toStdString();
  };
  EXPECT_EQ(english.size(), japanese.size());
  for (const auto& [id, text] : english) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(japanese.contains(id)) << "missing in the Japanese pack";
    EXPECT_EQ(conversions(text), conversions(japanese.at(id)));
  }
}

TEST_F(LanguagePacks, EveryTextFitsItsBufferAndIsTranslated) {
  for (const char* language : kLanguages) {
    for (const auto& [id, text] : strings(language)) {
      SCOPED_TRACE(std::string(language) + " " + std::to_string(id));
      EXPECT_EQ(ResourceLibrary::cutToBuffer(text, ResourceLibrary::textBufferBytes(id)), text)
          << "the panel would show this text cut";
    }
  }
  // A Japanese text made only of ASCII is an English text left untranslated; technical words
  // that Japanese writes in Latin letters are the exceptions.
  const std::set<int> latinInBothLanguages = {54};
  for (const auto& [id, text] : strings("japanese")) {
    SCOPED_TRACE(id);
    const bool latinOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    EXPECT_TRUE(!latinOnly || latinInBothLanguages.contains(id)) << text.toStdString();
  }
}

/// The object names of a dialog's numbered controls and commands, with their classes.
std::map<QString, QString> numberedObjects(const QString& uiPath) {
  QFile file(uiPath);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << uiPath.toStdString();
  QUiLoader loader;
  std::unique_ptr<QWidget> dialog(loader.load(&file));
  EXPECT_NE(dialog, nullptr) << uiPath.toStdString() << ": " << loader.errorString().toStdString();
  std::map<QString, QString> names;
  if (dialog == nullptr) {
    return names;
  }
  names[dialog->objectName()] = dialog->metaObject()->className();
  for (const QObject* child : dialog->findChildren<QObject*>()) {
    if (child->objectName().startsWith(QStringLiteral("id"))) {
      names[child->objectName()] = child->metaObject()->className();
    }
  }
  return names;
}

TEST_F(LanguagePacks, DialogsOfBothLanguagesHaveTheSameNumberedControls) {
  const QStringList dialogs = entries("english", "dialogs");
  EXPECT_EQ(dialogs, entries("japanese", "dialogs"));
  EXPECT_TRUE(dialogs.contains(QStringLiteral("126.ui")));
  for (const QString& name : dialogs) {
    SCOPED_TRACE(name.toStdString());
    const auto english = numberedObjects(":/english/dialogs/" + name);
    EXPECT_FALSE(english.empty());
    EXPECT_EQ(english, numberedObjects(":/japanese/dialogs/" + name));
  }
}

TEST_F(LanguagePacks, AboutBoxShowsItsWholeTextInBothLanguages) {
  for (const char* language : kLanguages) {
    SCOPED_TRACE(language);
    TempProgramDir dir;
    installPack(dir, language);
    ResourceLibrary library;
    ASSERT_TRUE(library.load(QString::fromStdString(dir.path())));
    const std::unique_ptr<QWidget> about = library.dialog(126);
    ASSERT_NE(about, nullptr);
    QLabel* version = ResourceLibrary::control<QLabel>(about.get(), 1100);
    ASSERT_NE(version, nullptr);
    version->setText(QStringLiteral("Version 2.19.1"));
    about->show();
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      SCOPED_TRACE(label->objectName().toStdString());
      EXPECT_GE(label->width(), label->sizeHint().width()) << "text cut off";
      EXPECT_GE(label->height(), label->sizeHint().height()) << "text cut off";
    }
  }
}

/// Icons that a list shows side by side, each set told apart by picture alone.
const std::vector<std::vector<int>> kIconSets = {
    {105, 106, 122, 123},  // hub stopped/running, authentication off/on
    {119, 120, 121, 153},  // connection accepted, admitted, logged in, logged in as a guest
    {124, 125},            // account in use, locked
    {154, 155},            // filter rule refusing, allowing
    {104, 110},            // main window, status window
};

TEST_F(LanguagePacks, IconsComeAtBothSizesAndDifferWithinTheirSet) {
  EXPECT_EQ(entries("english", "icons"), entries("japanese", "icons"));
  // At 16 px a state must differ from the others of its set in more than a few pixels, or
  // the list's rows cannot be told apart at a glance.
  constexpr int kMinDifferentPixels = 12;
  for (const auto& set : kIconSets) {
    std::vector<QImage> small;
    for (const int id : set) {
      SCOPED_TRACE(id);
      const QImage large(QStringLiteral(":/english/icons/%1.png").arg(id));
      small.emplace_back(QStringLiteral(":/english/icons/16/%1.png").arg(id));
      EXPECT_EQ(large.size(), QSize(32, 32));
      EXPECT_EQ(small.back().size(), QSize(16, 16));
    }
    for (size_t a = 0; a < small.size(); ++a) {
      for (size_t b = a + 1; b < small.size(); ++b) {
        SCOPED_TRACE(std::to_string(set[a]) + " and " + std::to_string(set[b]));
        int different = 0;
        for (int y = 0; y < 16; ++y) {
          for (int x = 0; x < 16; ++x) {
            different += small[a].pixel(x, y) != small[b].pixel(x, y) ? 1 : 0;
          }
        }
        EXPECT_GT(different, kMinDifferentPixels);
      }
    }
  }
}

TEST_F(LanguagePacks, HoldEveryIdThePanelsCodeAsksFor) {
  // The windows ask the library by literal number: library.text(16), resources_->icon(105).
  static const QRegularExpression call(
      QStringLiteral(
          R"((?:librar\w*|resources?\w*)\s*(?:\.|->)\s*(text|icon|dialog)\(\s*(\d+)\s*[,)])"),
      QRegularExpression::CaseInsensitiveOption);
  const auto english = strings("english");
  const auto japanese = strings("japanese");
  int found = 0;
  for (const char* folder : {"panel/windows", "panel/logic"}) {
    QDirIterator files(QStringLiteral(KORVANE_SOURCE_DIR) + folder, {"*.cpp", "*.h"});
    while (files.hasNext()) {
      QFile source(files.next());
      ASSERT_TRUE(source.open(QIODevice::ReadOnly));
      const QString code = QString::fromUtf8(source.readAll());
      for (auto it = call.globalMatch(code); it.hasNext(); ++found) {
        const auto match = it.next();
        const QString kind = match.captured(1);
        const int id = match.captured(2).toInt();
        SCOPED_TRACE(source.fileName().toStdString() + ": " + match.captured().toStdString());
        if (kind == QLatin1String("text")) {
          EXPECT_TRUE(english.contains(id) && japanese.contains(id));
        } else {
          const QString path = kind == QLatin1String("icon") ? QStringLiteral("icons/%1.png")
                                                             : QStringLiteral("dialogs/%1.ui");
          for (const char* language : kLanguages) {
            EXPECT_TRUE(QFile::exists(QStringLiteral(":/%1/").arg(language) + path.arg(id)))
                << language;
          }
        }
      }
    }
  }
  RecordProperty("ids_checked", found);
}

}  // namespace
}  // namespace korvane::panel
