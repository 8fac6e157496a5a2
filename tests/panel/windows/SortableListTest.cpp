#include <gtest/gtest.h>

#include <QHeaderView>
#include <QSettings>
#include <QTreeWidget>

#include "panel/windows/PanelSettings.h"
#include "panel/windows/SortableList.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

// Each test keeps the user's settings in a folder of its own.
class SortableListTest : public ::testing::Test {
 protected:
  SortableListTest() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path()));
  }

  static void fill(QTreeWidget& list) {
    list.setColumnCount(2);
    for (const auto& [name, port] : {std::pair{"b", "10"}, {"a", "9"}, {"c", ""}}) {
      list.addTopLevelItem(new QTreeWidgetItem(QStringList{name, port}));
    }
  }

  static QString column(const QTreeWidget& list, int index) {
    QStringList texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      texts << list.topLevelItem(i)->text(index);
    }
    return texts.join(',');
  }

  korvane::testing::TempProgramDir dir_;
};

TEST_F(SortableListTest, ClicksSortAndTheSortIsKeptForTheNextFill) {
  QTreeWidget list;
  fill(list);
  SortableList sortable(&list, QStringLiteral("TestList"));
  list.setCurrentItem(list.topLevelItem(1));  // "a"

  emit list.header()->sectionClicked(1);
  EXPECT_EQ(column(list, 1), QStringLiteral(",9,10")) << "ports by value, the empty one first";
  emit list.header()->sectionClicked(1);
  EXPECT_EQ(column(list, 1), QStringLiteral("10,9,"));
  emit list.header()->sectionClicked(0);
  EXPECT_EQ(column(list, 0), QStringLiteral("a,b,c"));
  emit list.header()->sectionClicked(0);
  EXPECT_EQ(column(list, 0), QStringLiteral("c,b,a"));
  EXPECT_EQ(list.currentItem()->text(0), QStringLiteral("a")) << "the current row stays current";

  // Another window's list of the same name, filled anew, sorts as the last click said.
  QTreeWidget next;
  fill(next);
  SortableList nextSortable(&next, QStringLiteral("TestList"));
  nextSortable.applyStoredSort();
  EXPECT_EQ(column(next, 0), QStringLiteral("c,b,a"));
  QTreeWidget other;
  fill(other);
  SortableList(&other, QStringLiteral("OtherList")).applyStoredSort();
  EXPECT_EQ(column(other, 0), QStringLiteral("b,a,c")) << "nothing stored: the fill's order stays";
}

TEST_F(SortableListTest, PlacementIsRestoredOnlyFromAGoodRecord) {
  QWidget window;
  window.setGeometry(40, 50, 320, 210);
  PanelSettings::savePlacement(window, QStringLiteral("Test_Dlg"));
  QWidget restored;
  EXPECT_TRUE(PanelSettings::restorePlacement(restored, QStringLiteral("Test_Dlg")));
  EXPECT_EQ(restored.size(), QSize(320, 210));

  PanelSettings::open().setValue(QStringLiteral("Software/Arvelle Korvane/Bad_Dlg"),
                                 QByteArray(44, '\1'));
  QWidget untouched;
  untouched.resize(100, 80);
  EXPECT_FALSE(PanelSettings::restorePlacement(untouched, QStringLiteral("Bad_Dlg")));
  EXPECT_EQ(untouched.size(), QSize(100, 80));

  // A name whose key would be too long is neither saved nor restored.
  const QString longName(1024 - QStringLiteral("Software/Arvelle Korvane/").size(), 'x');
  PanelSettings::savePlacement(window, longName);
  EXPECT_FALSE(
      PanelSettings::open().contains(QStringLiteral("Software/Arvelle Korvane/") + longName));
  EXPECT_FALSE(PanelSettings::restorePlacement(untouched, longName));
}

}  // namespace
}  // namespace korvane::panel
