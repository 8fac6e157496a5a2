#include "panel/windows/SortableList.h"

#include <QHeaderView>
#include <algorithm>
#include <vector>

#include "panel/windows/PanelSettings.h"

namespace korvane::panel {

SortableList::SortableList(QTreeWidget* list, QString listName)
    : QObject(list), list_(list), listName_(std::move(listName)) {
  list_->setSortingEnabled(false);  // the rows are sorted by the panel's own rule, not Qt's
  list_->header()->setSectionsClickable(true);
  connect(list_->header(), &QHeaderView::sectionClicked, this, &SortableList::headerClicked);
}

void SortableList::applyStoredSort() {
  if (const std::optional<SortSetting> stored = PanelSettings::readSort(listName_)) {
    sortRows(*stored);
  }
}

void SortableList::sortRows(const SortSetting& sort) {
  QTreeWidgetItem* current = list_->currentItem();
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  std::vector<QTreeWidgetItem*> rows;
  while (list_->topLevelItemCount() > 0) {
    rows.push_back(list_->takeTopLevelItem(0));
  }
  // The cells' texts as UTF-8, the bytes the comparison rule compares.
  const auto cell = [&sort](const QTreeWidgetItem* row) { return row->text(sort.column).toUtf8(); };
  std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    const QByteArray first = cell(a);
    const QByteArray second = cell(b);
    return compareRows(std::string_view(first.constData(), first.size()),
                       std::string_view(second.constData(), second.size()), sort.order) < 0;
  });
  for (QTreeWidgetItem* row : rows) {
    list_->addTopLevelItem(row);
  }
  if (current != nullptr) {
    list_->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
  }
  for (QTreeWidgetItem* row : selected) {
    row->setSelected(true);
  }
}

void SortableList::headerClicked(int column) {
  const SortSetting sort = sortAfterClick(PanelSettings::readSort(listName_), column);
  sortRows(sort);
  PanelSettings::writeSort(listName_, sort);
}

}  // namespace korvane::panel
