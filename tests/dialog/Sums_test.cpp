// Column sums over the rows picked in the result grid, the application's own multi-select
// handler in their place, and the sum's text.
#include <QTest>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

TEST(FormatSum, FixedPointWithAPointAndNoThousands) {
  EXPECT_EQ(FormatSum(1234.5, 2), "1234.50");
  EXPECT_EQ(FormatSum(10, 2), "10.00");
  EXPECT_EQ(FormatSum(5, 0), "5");
  EXPECT_EQ(FormatSum(-2.25, 1), "-2.2");
  EXPECT_EQ(FormatSum(1234567.891, 3), "1234567.891");
  EXPECT_EQ(FormatSum(-0.001, 0), "0") << "no sign on a sum that shows as zero";
}

// Order items with a lookup description (a text column); the grid's columns are OrderNo,
// ItemNo, PartNo, Qty, Discount and Description. The first three rows hold Qty 2, 3 and empty.
class SumTest : public ::testing::Test {
 protected:
  static constexpr int Qty = 3, Discount = 4, Description = 5;
  void SetUp() override {
    OpenItemsWithDescription(Articulos, Lineas);
    Dialog.SetDataSet(&Lineas);
  }
  void Run(const std::function<void(TSearchDialogBox&)>& Steps) {
    OnForm(Dialog, Steps, TEnd::Cancel);
    EXPECT_FALSE(Dialog.Execute());
  }
  // Puts the cursor on (Row, Col) and picks rows Picks with ctrl+clicks in that column.
  static void PickRows(TSearchDialogBox& F, int Col, std::initializer_list<int> Picks) {
    ClickCell(F.DBGrid1, *Picks.begin(), Col);
    for (int R : Picks) ClickCell(F.DBGrid1, R, Col, Qt::ControlModifier);
  }
  static std::string Title(TSearchDialogBox& F, int Col) {
    return F.DBGrid1->Columns()[Col]->Title().Caption();
  }
  TTable Articulos, Lineas;
  TSearchDialog Dialog;
};

TEST_F(SumTest, PickedRowsOfTheCurrentColumnAreSummed) {
  Run([&](TSearchDialogBox& F) {
    PickRows(F, Qty, {0, 1, 2});
    ASSERT_EQ(F.DBGrid1->SelectedRows().Count(), 3);
    EXPECT_EQ(F.STRegistros->Caption(), "Suma de Qty: 5") << "2 + 3 + empty";
    EXPECT_EQ(Title(F, Qty), "5");
    TColumnTitle& T = F.DBGrid1->Columns()[Qty]->Title();
    EXPECT_EQ(T.Color(), clBlack);
    EXPECT_EQ(T.Font().Color(), clYellow);
    EXPECT_EQ(Title(F, Discount), "Discount") << "only the current column";
    const QImage Shot = F.DBGrid1->grab().toImage();
    EXPECT_EQ(TitleColor(F.DBGrid1, Shot, Qty), ToQColor(clBlack));
    EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clBlack));
    EXPECT_EQ(Lineas.RecNo(), 3) << "the sum puts the record back";
  });
}

TEST_F(SumTest, DecimalsAndEarlierSumsStayUntilTheSelectionGoes) {
  Dialog.SetDecimals(2);
  EXPECT_EQ(Dialog.SearchForm()->Decimals(), 2);
  Run([&](TSearchDialogBox& F) {
    PickRows(F, Qty, {1, 3});
    EXPECT_EQ(F.STRegistros->Caption(), "Suma de Qty: 10.00");
    // The cursor on a text column: nothing new is summed, Qty keeps its sum.
    ClickCell(F.DBGrid1, 4, Description, Qt::ControlModifier);
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:8");
    EXPECT_EQ(Title(F, Qty), "11.00") << "3 + 7 + 1";
    EXPECT_EQ(Title(F, Description), "Description");
    // Discount joins the sums; the counter shows the current column's.
    ClickCell(F.DBGrid1, 5, Discount, Qt::ControlModifier);
    EXPECT_EQ(F.STRegistros->Caption(), "Suma de Discount: 30.00");
    EXPECT_EQ(Title(F, Qty), "15.00");
    EXPECT_EQ(Title(F, Discount), "30.00");
    // Down to one picked row: no sums, the labels and colours are back.
    ClickCell(F.DBGrid1, 1, Qty, Qt::ControlModifier);
    ClickCell(F.DBGrid1, 3, Qty, Qt::ControlModifier);
    ClickCell(F.DBGrid1, 4, Qty, Qt::ControlModifier);
    ASSERT_EQ(F.DBGrid1->SelectedRows().Count(), 1);
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:8");
    EXPECT_EQ(Title(F, Qty), "Qty");
    EXPECT_EQ(F.DBGrid1->Columns()[Qty]->Title().Color(), clSilver);
    EXPECT_EQ(F.DBGrid1->Columns()[Description]->Title().Color(), clAqua);
    EXPECT_EQ(F.DBGrid1->Columns()[Qty]->Title().Font().Color(), clBlack);
  });
}

TEST_F(SumTest, SumsOverAnSQLResult) {
  Run([&](TSearchDialogBox& F) {
    AddToFilter(F, "Description", "contiene", "a");
    ASSERT_EQ(F.STRegistros->Caption(), "Registros encontrados:8");
    // Every row, whatever order the join gave them.
    ClickCell(F.DBGrid1, 0, Discount);
    ClickCell(F.DBGrid1, 7, Discount, Qt::ShiftModifier);
    ASSERT_EQ(F.DBGrid1->SelectedRows().Count(), 8);
    EXPECT_EQ(F.STRegistros->Caption(), "Suma de Discount: 90");
  });
}

TEST_F(SumTest, AnApplicationHandlerReplacesTheSum) {
  int Calls = 0;
  Dialog.SetOnMultiSelect([&](TDBGrid* Items) {
    ++Calls;
    EXPECT_EQ(Items, Dialog.SearchForm()->DBGrid1);
    return "Elegidos: " + std::to_string(Items->SelectedRows().Count());
  });
  Run([&](TSearchDialogBox& F) {
    PickRows(F, Qty, {0, 1});
    EXPECT_EQ(F.STRegistros->Caption(), "Elegidos: 2");
    EXPECT_EQ(Title(F, Qty), "Qty") << "the built-in sum never ran";
    EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clBlack));
  });
  EXPECT_GE(Calls, 2);
  ExecuteOnMultiSelect = nullptr;
}

}  // namespace
