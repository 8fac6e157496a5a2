#pragma once

#include <QObject>
#include <QString>
#include <QTreeWidget>

#include "panel/logic/ListSort.h"

namespace korvane::panel {

/// Sorting of one list window's list: a click on a column header sorts the rows by that column
/// (the same column again turns the order round) and stores the sort under the list's name, and
/// every fill of the list applies the stored sort again. Belongs to the list, as its child.
class SortableList : public QObject {
  Q_OBJECT

 public:
  /// Makes the header of `list` clickable; `listName` ("HubList", "StatusList", ...) names the
  /// stored sort.
  SortableList(QTreeWidget* list, QString listName);

  /// Sorts the rows by the stored sort; the rows keep their order when none is stored.
  void applyStoredSort();

  /// Sorts the rows by `sort`, keeping the selection and the current row.
  void sortRows(const SortSetting& sort);

 private:
  void headerClicked(int column);

  QTreeWidget* list_;
  QString listName_;
};

}  // namespace korvane::panel
