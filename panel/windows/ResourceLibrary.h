#pragma once

#include <QIcon>
#include <QString>
#include <QTranslator>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace korvane::panel {

/// The panel's texts, dialogs and icons by number, read from the active language pack
/// OSTREL_LANG.rcc in the program directory. The panel's code holds no user-visible text: a
/// window loads its dialog here, finds its controls by number and takes every text from here.
class ResourceLibrary {
 public:
  /// The active pack's file name in the program directory; a language switch replaces it.
  static constexpr const char* kActiveFileName = "OSTREL_LANG.rcc";
  /// The language packs of the two languages are each well under 1 MiB; a larger file is not a
  /// pack of ours, and it is refused before it is read.
  static constexpr std::int64_t kMaxPackBytes = 16 * 1024 * 1024;
  /// The strings of one language take some tens of KiB; this bounds the parse of a broken pack.
  static constexpr std::int64_t kMaxStringsBytes = 1024 * 1024;
  /// Buffer sizes the panel reads texts into, terminator included, so a message holds at most
  /// 1022 bytes of UTF-8: message box texts and the formats they are made from.
  static constexpr int kMessageBufferBytes = 1023;
  /// List, column header, title and status-bar texts.
  static constexpr int kListTextBufferBytes = 255;
  /// The values of an account list's cells (strings 62, 63, 65, 66, 161, 162).
  static constexpr int kCellTextBufferBytes = 63;

  ResourceLibrary() = default;
  ~ResourceLibrary();
  ResourceLibrary(const ResourceLibrary&) = delete;
  ResourceLibrary& operator=(const ResourceLibrary&) = delete;

  /// Registers OSTREL_LANG.rcc of `programDir` and reads its strings, unloading any pack loaded
  /// before; false with `err` set when the file is missing, too large or not a valid pack.
  [[nodiscard]] bool load(const QString& programDir, std::string* err = nullptr);

  /// Forgets the loaded pack and its strings, so the active file may be replaced.
  void unload();

  /// The loaded pack's language as its file "/language" names it ("en", "ja"); empty when none
  /// is loaded. A pack of another language than English also brings Qt's own translation of its
  /// standard buttons, installed while the pack is loaded.
  const QString& language() const { return language_; }
  /// Whether Qt's own translation for the pack's language is installed.
  bool hasQtTranslation() const { return qtTranslator_ != nullptr; }
  /// Whether a pack is loaded.
  bool isLoaded() const { return !registeredFile_.isEmpty(); }

  /// String `id` of the loaded pack, cut as the panel's buffer for that kind of text cuts it;
  /// empty when the pack has no such string.
  QString text(int id) const;

  /// A new widget built from dialog `id` of the loaded pack (":/dialogs/NNN.ui"); null when the
  /// pack has no such dialog or it does not load.
  std::unique_ptr<QWidget> dialog(int id, QWidget* parent = nullptr) const;

  /// Icon `id` at 16 and 32 pixels, read now so that it stays valid after an unload; a null
  /// icon when the pack has no such icon.
  QIcon icon(int id) const;

  /// The buffer size, terminator included, that string `id` is read into.
  static int textBufferBytes(int id);

  /// `text` cut to at most `bufferBytes` - 1 bytes of UTF-8, never inside a character.
  static QString cutToBuffer(const QString& text, int bufferBytes);

  /// The object name that a dialog's control or menu command `id` carries: "id1100".
  static QString controlName(int id) { return QStringLiteral("id%1").arg(id); }

  /// Control `id` of `dialog` as a T; null, with a critical log line that window tests turn
  /// into a failure, when the dialog has no such control of that type.
  template <class T>
  static T* control(const QWidget* dialog, int id) {
    T* found = dialog->findChild<T*>(controlName(id));
    if (found == nullptr) {
      reportMissingControl(dialog, id);
    }
    return found;
  }

 private:
  static void reportMissingControl(const QWidget* dialog, int id);
  [[nodiscard]] bool readStrings(std::string* err);
  void readLanguage();

  /// A language name is a short code; more is not a pack of ours.
  static constexpr qint64 kMaxLanguageBytes = 16;

  QString registeredFile_;
  std::unordered_map<int, QString> strings_;
  QString language_;
  std::unique_ptr<QTranslator> qtTranslator_;
};

/// Parses strings.txt text: lines "ID<TAB>text" with the escapes \n, \t and \\, blank lines and
/// lines starting with '#' ignored; false with `err` naming the line when a line is malformed or
/// an id repeats.
[[nodiscard]] bool parseStringTable(const QByteArray& data, std::unordered_map<int, QString>* out,
                                    std::string* err);

}  // namespace korvane::panel
