// The grid's current cell after a click that changes both the record and the column: the cell
// clicked is current, and the column reported is the one shown.
#include <gtest/gtest.h>

#include <QTest>

#include "DBGrids.h"
#include "FormsTestSupport.h"

using namespace kv;

namespace {

TEST(GridCurrentCell, AClickOnAnotherRowAndColumnMakesThatCellCurrent) {
  auto DS = MakeCustomers();
  TDataSource Source;
  Source.SetDataSet(DS.get());
  TDBGrid Grid;
  Grid.resize(720, 260);
  Grid.SetDataSource(&Source);
  Grid.show();
  std::vector<int> Entered;
  Grid.OnColEnter = [&](TObject*) { Entered.push_back(Grid.currentIndex().column()); };
  const QModelIndex Target = Grid.model()->index(3, 2);
  QTest::mouseClick(Grid.viewport(), Qt::LeftButton, {}, Grid.visualRect(Target).center());
  EXPECT_EQ(DS->RecNo(), 4);
  EXPECT_EQ(Grid.SelectedIndex(), 2);
  EXPECT_EQ(Grid.currentIndex().row(), 3);
  EXPECT_EQ(Grid.currentIndex().column(), 2) << "the record's move kept the old column";
  EXPECT_EQ(Entered, (std::vector<int>{2})) << "one column change, seen on the clicked column";
  // Back to the first row and column, by a click again.
  QTest::mouseClick(Grid.viewport(), Qt::LeftButton, {},
                    Grid.visualRect(Grid.model()->index(0, 0)).center());
  EXPECT_EQ(DS->RecNo(), 1);
  EXPECT_EQ(Grid.currentIndex().column(), 0);
  EXPECT_EQ(Grid.SelectedIndex(), 0);
}

}  // namespace
