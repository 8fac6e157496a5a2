#include "panel/windows/PanelSettings.h"

namespace korvane::panel {
namespace {

const QString kSortGroup = QStringLiteral("Arvelle Korvane/");
const QString kPlacementGroup = QStringLiteral("Software/Arvelle Korvane/");

std::optional<QString> placementKey(const QString& windowName) {
  const QString key = kPlacementGroup + windowName;
  if (static_cast<std::size_t>(key.size()) >= kMaxPlacementKeyChars) {
    return std::nullopt;
  }
  return key;
}

}  // namespace

QSettings PanelSettings::open() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Arvelle Korvane"),
                   QStringLiteral("Ostrel"));
}

std::optional<SortSetting> PanelSettings::readSort(const QString& listName) {
  QSettings settings = open();
  const QVariant column = settings.value(kSortGroup + listName + QStringLiteral("_SortColumn"));
  const QVariant order = settings.value(kSortGroup + listName + QStringLiteral("_SortOrder"));
  bool columnRead = false;
  bool orderRead = false;
  const int columnValue = column.toInt(&columnRead);
  const int orderValue = order.toInt(&orderRead);
  if (!columnRead || !orderRead) {
    return std::nullopt;
  }
  return storedSort(columnValue, orderValue);
}

void PanelSettings::writeSort(const QString& listName, const SortSetting& sort) {
  QSettings settings = open();
  settings.setValue(kSortGroup + listName + QStringLiteral("_SortColumn"), sort.column);
  settings.setValue(kSortGroup + listName + QStringLiteral("_SortOrder"), sort.order);
}

void PanelSettings::savePlacement(const QWidget& window, const QString& windowName) {
  if (const std::optional<QString> key = placementKey(windowName)) {
    open().setValue(*key, window.saveGeometry());
  }
}

bool PanelSettings::restorePlacement(QWidget& window, const QString& windowName) {
  const std::optional<QString> key = placementKey(windowName);
  if (!key) {
    return false;
  }
  const QVariant record = open().value(*key);
  return record.typeId() == QMetaType::QByteArray && window.restoreGeometry(record.toByteArray());
}

}  // namespace korvane::panel
