#pragma once

#include <QSettings>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <optional>

#include "panel/logic/ListSort.h"

namespace korvane::panel {

/// A placement is kept under "Software/Arvelle Korvane/<window name>"; a name that makes that key
/// this long or longer is neither saved nor restored.
inline constexpr std::size_t kMaxPlacementKeyChars = 1024;

/// The panel's settings of its user, kept in the user's configuration folder
/// (~/.config/Arvelle Korvane/Ostrel.conf): each list's sort ("Arvelle Korvane/<list>_SortColumn"
/// and "_SortOrder") and each window's placement ("Software/Arvelle Korvane/<window>").
class PanelSettings {
 public:
  /// The settings file of the user.
  static QSettings open();

  /// The stored sort of list `listName`; std::nullopt when none is stored or it cannot be read.
  static std::optional<SortSetting> readSort(const QString& listName);
  /// Stores the sort of list `listName`.
  static void writeSort(const QString& listName, const SortSetting& sort);

  /// Stores the size, place and state of `window` under `windowName`.
  static void savePlacement(const QWidget& window, const QString& windowName);
  /// Gives `window` the placement stored under `windowName`; false, leaving the window as it
  /// is, when none is stored or the record cannot be restored.
  static bool restorePlacement(QWidget& window, const QString& windowName);
};

}  // namespace korvane::panel
