// Find over a dataset the application filters itself: a search run as SQL shows every record,
// also those that filter hides; accepting a hidden one (or an empty result) cannot put the
// dataset on it, so Find says false and leaves the dataset, its filter and its masters as they
// were. A filter search keeps the application's filter and never shows them.
#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

int Int(TDataSet& DS, const char* Field) {
  return DS.FieldByName(Field)->AsInteger();
}

// Customers 1 to 3 shown by the application (4 to 6 hidden), standing on customer 2.
class AppFilteredMasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenTable(Clientes, "CLIENTES.DB");
    Clientes.SetFilter("CustNo < 4");
    Clientes.SetFiltered(true);
    Clientes.Locate("CustNo", 2, 0);
    Dialog.SetDataSet(&Clientes);
  }
  // Accepts row Row of the customers of Madrid (1 Ana Náutica, 4 Diana Buceo, which the
  // application hides), of which the result shows Shown.
  bool FindMadrid(int Row, int Shown = 2) {
    OnForm(Dialog, [&](TSearchDialogBox& F) {
      AddToFilter(F, "City", "igual a", "Madrid");
      EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(Shown));
      ClickCell(F.DBGrid1, Row, 0);
    });
    return Dialog.Find();
  }
  void ExpectAsTheApplicationLeftIt(int CustNo) {
    EXPECT_EQ(Int(Clientes, "CustNo"), CustNo);
    EXPECT_EQ(Clientes.Filter(), "CustNo < 4");
    EXPECT_TRUE(Clientes.Filtered());
    EXPECT_EQ(Clientes.RecordCount(), 3);
    EXPECT_FALSE(Dialog.SearchForm()->Engine()->Filtered());
  }
  TTable Clientes;
  TSearchDialog Dialog;
};

TEST_F(AppFilteredMasterTest, AnSQLSearchReachesAShownRecordAndRefusesAHiddenOne) {
  Dialog.SetUseSQLAlways(true);
  EXPECT_FALSE(FindMadrid(1)) << "Diana Buceo is hidden by the application's filter";
  ExpectAsTheApplicationLeftIt(2);
  EXPECT_TRUE(FindMadrid(0));
  ExpectAsTheApplicationLeftIt(1);
}

TEST_F(AppFilteredMasterTest, AFilterSearchShowsOnlyWhatTheApplicationShows) {
  EXPECT_TRUE(FindMadrid(0, 1));
  ExpectAsTheApplicationLeftIt(1);
}

TEST_F(AppFilteredMasterTest, AnAcceptedEmptyResultMovesNothing) {
  for (bool SQL : {false, true}) {
    Dialog.SetUseSQLAlways(SQL);
    Clientes.Locate("CustNo", 3, 0);
    OnForm(Dialog, [&](TSearchDialogBox& F) {
      AddToFilter(F, "City", "igual a", "Teruel");
      EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:0");
    });
    EXPECT_FALSE(Dialog.Find()) << "as SQL: " << SQL;
    ExpectAsTheApplicationLeftIt(3);
  }
}

// Order items, the detail of orders, of which the application shows those with Qty > 2; the
// master stands on order 100, the detail on its item 2 (the only one of order 100 shown).
class AppFilteredDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenOrderItems(Pedidos, PedidosSrc, Lineas);
    Lineas.SetFilter("Qty > 2");
    Lineas.SetFiltered(true);
    Dialog.SetDataSet(&Lineas);
  }
  // Accepts row Row of the items whose Qty compares with Value by Condition, searched as SQL.
  bool FindQty(const std::string& Condition, const std::string& Value, int Row) {
    Dialog.SetUseSQLAlways(true);
    OnForm(Dialog, [&](TSearchDialogBox& F) {
      AddToFilter(F, "Qty", Condition, Value);
      ClickCell(F.DBGrid1, Row, 0);
    });
    return Dialog.Find();
  }
  void ExpectOn(int OrderNo, int ItemNo) {
    EXPECT_EQ(Int(Pedidos, "OrderNo"), OrderNo);
    EXPECT_EQ(Int(Lineas, "OrderNo"), OrderNo);
    EXPECT_EQ(Int(Lineas, "ItemNo"), ItemNo);
    EXPECT_EQ(Lineas.MasterSource(), &PedidosSrc);
    EXPECT_EQ(Lineas.MasterFields(), "OrderNo");
    EXPECT_EQ(Lineas.Filter(), "Qty > 2");
    EXPECT_TRUE(Lineas.Filtered());
  }
  TTable Pedidos;
  TDataSource PedidosSrc;
  TTable Lineas;
  TSearchDialog Dialog;
};

TEST_F(AppFilteredDetailTest, AHiddenRecordOfAnotherMasterLeavesBothWhereTheyWere) {
  ExpectOn(100, 2);
  // Qty 2 (order 100) and 1 (order 102): the second is hidden and belongs to another order.
  EXPECT_FALSE(FindQty("menor que", "3", 1));
  ExpectOn(100, 2);
  EXPECT_FALSE(FindQty("menor que", "3", 0)) << "hidden, of the same order";
  ExpectOn(100, 2);
  // Qty 7 (order 101) and 9 (order 104), both shown: the master moves.
  EXPECT_TRUE(FindQty("mayor que", "6", 1));
  ExpectOn(104, 1);
}

TEST_F(AppFilteredDetailTest, WithinTheMasterAHiddenRecordIsRefusedAsWell) {
  Dialog.SetMasterSlave(true);
  Dialog.SetUseSQLAlways(true);
  // Order 100's items with a discount: item 2 (Qty 3, shown) and item 3 (no Qty, hidden).
  for (int Row : {1, 0}) {
    OnForm(Dialog, [&](TSearchDialogBox& F) {
      AddToFilter(F, "Discount", "mayor o igual a", "5");
      ClickCell(F.DBGrid1, Row, 0);
    });
    EXPECT_EQ(Dialog.Find(), Row == 0) << "row " << Row;
    ExpectOn(100, 2);
  }
}

}  // namespace
