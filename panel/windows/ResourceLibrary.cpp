#include "panel/windows/ResourceLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPixmap>
#include <QResource>
#include <QTranslator>
#include <QUiLoader>
#include <QtGlobal>
#include <algorithm>
#include <array>

namespace korvane::panel {

namespace {

/// Strings shown in lists, column headers, window titles, status bars, status labels and file
/// dialog titles; every other string is a message or a message's format.
constexpr std::array kListTextIds = {5,  7,   8,   9,   10,  11,  12,  13,  17, 18, 19, 22,
                                     23, 32,  33,  34,  35,  36,  37,  38,  39, 40, 41, 49,
                                     54, 55,  56,  57,  58,  59,  61,  64,  68, 74, 75, 79,
                                     80, 102, 103, 104, 108, 148, 149, 151, 160};
/// The values of an account list's cells.
constexpr std::array kCellTextIds = {62, 63, 65, 66, 161, 162};

void setError(std::string* err, const QString& text) {
  if (err != nullptr) {
    *err = text.toStdString();
  }
}

/// Undoes the escapes of one strings.txt text; false on a backslash that starts no escape.
bool unescape(const QByteArray& raw, QString* out) {
  QByteArray bytes;
  bytes.reserve(raw.size());
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      bytes.append(raw[i]);
      continue;
    }
    if (++i == raw.size()) {
      return false;
    }
    switch (raw[i]) {
      case 'n':
        bytes.append('\n');
        break;
      case 't':
        bytes.append('\t');
        break;
      case '\\':
        bytes.append('\\');
        break;
      default:
        return false;
    }
  }
  *out = QString::fromUtf8(bytes);
  return true;
}

}  // namespace

bool parseStringTable(const QByteArray& data, std::unordered_map<int, QString>* out,
                      std::string* err) {
  std::unordered_map<int, QString> table;
  const QList<QByteArray> lines = data.split('\n');
  for (qsizetype index = 0; index < lines.size(); ++index) {
    QByteArray line = lines[index];
    if (line.endsWith('\r')) {
      line.chop(1);
    }
    if (line.isEmpty() || line.startsWith('#')) {
      continue;
    }
    const auto fail = [&](const char* why) {
      setError(err, QStringLiteral("strings.txt line %1: %2").arg(index + 1).arg(why));
      return false;
    };
    const qsizetype tab = line.indexOf('\t');
    if (tab <= 0) {
      return fail("expected ID<TAB>text");
    }
    bool numeric = false;
    const int id = line.left(tab).toInt(&numeric);
    if (!numeric || id <= 0 || id > 65535) {
      return fail("the id is not a number from 1 to 65535");
    }
    QString text;
    if (!unescape(line.mid(tab + 1), &text)) {
      return fail("a backslash starts no escape (\\n, \\t, \\\\)");
    }
    if (!table.emplace(id, text).second) {
      return fail("the id appears twice");
    }
  }
  *out = std::move(table);
  return true;
}

ResourceLibrary::~ResourceLibrary() {
  unload();
}

bool ResourceLibrary::load(const QString& programDir, std::string* err) {
  unload();
  const QString path = QDir(programDir).filePath(kActiveFileName);
  const QFileInfo info(path);
  if (!info.isFile()) {
    setError(err, QStringLiteral("%1: no such file").arg(path));
    return false;
  }
  if (info.size() > kMaxPackBytes) {
    setError(err, QStringLiteral("%1: %2 bytes, more than a language pack's %3")
                      .arg(path)
                      .arg(info.size())
                      .arg(kMaxPackBytes));
    return false;
  }
  if (!QResource::registerResource(path)) {
    setError(err, QStringLiteral("%1: not a language pack").arg(path));
    return false;
  }
  registeredFile_ = path;
  if (!readStrings(err)) {
    unload();
    return false;
  }
  readLanguage();
  return true;
}

void ResourceLibrary::readLanguage() {
  QFile file(QStringLiteral(":/language"));
  if (file.open(QIODevice::ReadOnly)) {
    language_ = QString::fromLatin1(file.read(kMaxLanguageBytes)).trimmed();
  }
  // Qt's own texts (the buttons of a message box) follow the pack; English needs none. A missing
  // translation leaves them in English, which is all the panel can do.
  if (language_.isEmpty() || language_ == QStringLiteral("en") ||
      QCoreApplication::instance() == nullptr) {
    return;
  }
  auto translator = std::make_unique<QTranslator>();
  if (translator->load(QStringLiteral("qtbase_") + language_,
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(translator.get())) {
    qtTranslator_ = std::move(translator);
  }
}

bool ResourceLibrary::readStrings(std::string* err) {
  QFile file(QStringLiteral(":/strings.txt"));
  if (!file.open(QIODevice::ReadOnly)) {
    setError(err, QStringLiteral("%1: the pack has no strings").arg(registeredFile_));
    return false;
  }
  if (file.size() > kMaxStringsBytes) {
    setError(err, QStringLiteral("%1: its strings exceed %2 bytes")
                      .arg(registeredFile_)
                      .arg(kMaxStringsBytes));
    return false;
  }
  std::string why;
  if (!parseStringTable(file.readAll(), &strings_, &why)) {
    setError(err, registeredFile_ + QStringLiteral(": ") + QString::fromStdString(why));
    return false;
  }
  return true;
}

void ResourceLibrary::unload() {
  strings_.clear();
  language_.clear();
  if (qtTranslator_ != nullptr) {
    QCoreApplication::removeTranslator(qtTranslator_.get());
    qtTranslator_.reset();
  }
  if (!registeredFile_.isEmpty()) {
    QResource::unregisterResource(registeredFile_);
    registeredFile_.clear();
  }
}

QString ResourceLibrary::text(int id) const {
  const auto found = strings_.find(id);
  if (found == strings_.end()) {
    return {};
  }
  return cutToBuffer(found->second, textBufferBytes(id));
}

std::unique_ptr<QWidget> ResourceLibrary::dialog(int id, QWidget* parent) const {
  if (!isLoaded()) {
    return nullptr;
  }
  QFile file(QStringLiteral(":/dialogs/%1.ui").arg(id));
  if (!file.open(QIODevice::ReadOnly)) {
    return nullptr;
  }
  QUiLoader loader;
  return std::unique_ptr<QWidget>(loader.load(&file, parent));
}

QIcon ResourceLibrary::icon(int id) const {
  if (!isLoaded()) {
    return {};
  }
  QIcon result;
  for (const QString& path :
       {QStringLiteral(":/icons/16/%1.png"), QStringLiteral(":/icons/%1.png")}) {
    const QPixmap pixmap(path.arg(id));
    if (!pixmap.isNull()) {
      result.addPixmap(pixmap);
    }
  }
  return result;
}

int ResourceLibrary::textBufferBytes(int id) {
  if (std::ranges::find(kCellTextIds, id) != kCellTextIds.end()) {
    return kCellTextBufferBytes;
  }
  if (std::ranges::find(kListTextIds, id) != kListTextIds.end()) {
    return kListTextBufferBytes;
  }
  return kMessageBufferBytes;
}

QString ResourceLibrary::cutToBuffer(const QString& text, int bufferBytes) {
  const QByteArray bytes = text.toUtf8();
  qsizetype end = bufferBytes - 1;
  if (bytes.size() <= end) {
    return text;
  }
  // Step back over continuation bytes so the cut falls before a whole character.
  while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) {
    --end;
  }
  return QString::fromUtf8(bytes.left(end));
}

void ResourceLibrary::reportMissingControl(const QWidget* dialog, int id) {
  qCritical("dialog %s has no control %d of the expected type", qPrintable(dialog->objectName()),
            id);
}

}  // namespace korvane::panel
