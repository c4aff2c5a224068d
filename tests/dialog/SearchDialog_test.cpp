// TSearchDialog: Find and Execute accepted and cancelled on a master table, on a detail table
// searched over all its records or within its master's, on a query; the two errors of a search
// that cannot start; a dataset destroyed under the component; the print button.
#include <QTest>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

int Int(TDataSet& DS, const char* Field) {
  return DS.FieldByName(Field)->AsInteger();
}

void Click(QAbstractButton* B) {
  QTest::mouseClick(B, Qt::LeftButton);
}

void ExpectError(const std::function<void()>& F, const std::string& Msg) {
  try {
    F();
    ADD_FAILURE() << "no error, expected: " << Msg;
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), Msg);
  }
}

class MasterTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenTable(Clientes, "CLIENTES.DB");
    Clientes.Next();  // on Bahía Azul
    Dialog.SetDataSet(&Clientes);
  }
  TTable Clientes;
  TSearchDialog Dialog;
};

TEST_F(MasterTableTest, FindAcceptedMovesToTheChosenRecordAndEndsTheSearch) {
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "City", "igual a", "Madrid");
    ASSERT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    ClickCell(F.DBGrid1, 1, 1);
  });
  EXPECT_TRUE(Dialog.Find());
  EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Diana Buceo");
  EXPECT_FALSE(Clientes.Filtered());
  EXPECT_EQ(Clientes.RecordCount(), 6);
  EXPECT_FALSE(Dialog.SearchForm()->Engine()->Filtered());
  EXPECT_EQ(Dialog.SearchForm()->STFiltro->Caption(), "Filtro: ");
}

TEST_F(MasterTableTest, FindCancelledPutsTheRecordBackUnfiltered) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Pick(F.CCampo, "Company");
        Type(F.ETValor, "Ana");
        Click(F.BTFiltrarY);
        ASSERT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Find());
  EXPECT_EQ(Int(Clientes, "CustNo"), 2);
  EXPECT_EQ(Clientes.RecordCount(), 6);
}

// A cancel ends the search as well: the dataset never stays filtered by a cancelled search.
TEST_F(MasterTableTest, CancelledExecuteEndsTheSearch) {
  // A filter of the application's own, set after the dataset was given to the component.
  Clientes.SetFilter("CustNo < 6");
  Clientes.SetFiltered(true);
  Clientes.Locate("CustNo", 2, 0);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        AddToFilter(F, "City", "igual a", "Madrid");
        ASSERT_EQ(Clientes.RecordCount(), 2) << "a plain comparison filters the table itself";
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_FALSE(Dialog.SearchForm()->Engine()->Filtered());
  EXPECT_EQ(Clientes.Filter(), "CustNo < 6") << "the table's own filter is back";
  EXPECT_TRUE(Clientes.Filtered());
  EXPECT_EQ(Clientes.RecordCount(), 5);
  EXPECT_EQ(Int(Clientes, "CustNo"), 2);
  Clientes.SetFiltered(false);
}

TEST_F(MasterTableTest, AcceptedExecuteLeavesTheResultUntilLiberate) {
  OnForm(Dialog, [&](TSearchDialogBox& F) { AddToFilter(F, "City", "igual a", "Madrid"); });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Dialog.Results(), &Clientes);
  EXPECT_EQ(Dialog.Results()->RecordCount(), 2);
  Dialog.Liberate();
  EXPECT_EQ(Clientes.RecordCount(), 6);
  EXPECT_EQ(Dialog.SearchForm()->STFiltro->Caption(), "Filtro: ");
  // Liberate with no search under way only clears the engine's filter and the caption.
  Dialog.SearchForm()->STFiltro->SetCaption("x");
  Dialog.Liberate();
  EXPECT_EQ(Dialog.SearchForm()->STFiltro->Caption(), "Filtro: ");
  EXPECT_EQ(Clientes.RecordCount(), 6);
}

TEST_F(MasterTableTest, UseSQLAlwaysRunsEvenPlainComparisonsAsSQL) {
  Dialog.SetUseSQLAlways(true);
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "Limit", "mayor que", "5");
    EXPECT_EQ(F.Engine()->Results(), F.Engine()->SQLQuery());
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    ClickCell(F.DBGrid1, 1, 0);
  });
  EXPECT_TRUE(Dialog.Find());
  EXPECT_EQ(Int(Clientes, "CustNo"), 5);
}

TEST_F(MasterTableTest, PrintButtonOnlyWithAHandlerWhichGetsTheResult) {
  OnForm(Dialog, [&](TSearchDialogBox& F) { EXPECT_FALSE(F.BTImprimir->isVisible()); });
  EXPECT_TRUE(Dialog.Execute());
  Dialog.Liberate();
  int Calls = 0;
  TDataSet* Printed = nullptr;
  Dialog.SetOnPrintButton([&](TDataSet* DS) {
    ++Calls;
    Printed = DS;
  });
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    EXPECT_TRUE(F.BTImprimir->isVisible());
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "Ana");
    Click(F.BTFiltrarY);
    Click(F.BTImprimir);
    EXPECT_TRUE(F.isVisible()) << "printing leaves the form open";
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(Printed, F.Engine()->SQLQuery()) << "the result of an SQL search";
  });
  EXPECT_TRUE(Dialog.Execute());
  Dialog.Liberate();
  EXPECT_EQ(Calls, 1);
}

// Order items as the detail of orders, linked by OrderNo; the master starts on order 100 (three
// items) and the detail on its second item.
class DetailTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenOrderItems(Pedidos, PedidosSrc, Lineas);
    Lineas.Next();
  }
  void ExpectLinked() {
    EXPECT_EQ(Lineas.MasterSource(), &PedidosSrc);
    EXPECT_EQ(Lineas.MasterFields(), "OrderNo");
    EXPECT_FALSE(Lineas.Filtered());
  }
  TTable Pedidos;
  TDataSource PedidosSrc;
  TTable Lineas;
  TSearchDialog Dialog;
};

TEST_F(DetailTableTest, AllRecordsSearchedAndTheMasterMovedOnAccept) {
  Dialog.SetMasterSlave(false);
  Dialog.SetDataSet(&Lineas);
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:8");
    EXPECT_EQ(Lineas.MasterSource(), nullptr) << "the link is cut while searching";
    Type(F.ETValor, "103");
    EXPECT_EQ(Int(Lineas, "OrderNo"), 103);
  });
  EXPECT_TRUE(Dialog.Find());
  EXPECT_EQ(Int(Pedidos, "OrderNo"), 103);
  EXPECT_EQ(Int(Lineas, "OrderNo"), 103);
  EXPECT_EQ(Lineas.RecordCount(), 1);
  ExpectLinked();
}

TEST_F(DetailTableTest, AnSQLResultAlsoMovesTheMaster) {
  Dialog.SetDataSet(&Lineas);
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "Qty", "mayor que", "6");
    ClickCell(F.DBGrid1, 0, 0);
    Click(F.BTOrdenar);  // ordered through SQL: 7 (order 101), 9 (order 104)
    ClickCell(F.DBGrid1, 1, 3);
    EXPECT_EQ(F.Engine()->Results()->FieldByName("Qty")->AsInteger(), 9);
  });
  EXPECT_TRUE(Dialog.Find());
  EXPECT_EQ(Int(Pedidos, "OrderNo"), 104);
  EXPECT_EQ(Int(Lineas, "Qty"), 9);
  ExpectLinked();
}

TEST_F(DetailTableTest, CancelGivesTheLinkAndTheRecordBack) {
  Dialog.SetDataSet(&Lineas);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        AddToFilter(F, "Qty", "mayor que", "4");
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:3");
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Find());
  ExpectLinked();
  EXPECT_EQ(Int(Pedidos, "OrderNo"), 100);
  EXPECT_EQ(Lineas.RecordCount(), 3);
  EXPECT_EQ(Int(Lineas, "ItemNo"), 2);
}

TEST_F(DetailTableTest, CancelledExecuteAloneAlsoPutsTheRecordBack) {
  Dialog.SetDataSet(&Lineas);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Type(F.ETValor, "104");
        EXPECT_EQ(Int(Lineas, "OrderNo"), 104);
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  ExpectLinked();
  EXPECT_EQ(Int(Pedidos, "OrderNo"), 100);
  EXPECT_EQ(Int(Lineas, "ItemNo"), 2);
}

TEST_F(DetailTableTest, MasterSlaveSearchesTheCurrentMastersRecordsOnly) {
  Dialog.SetMasterSlave(true);
  Dialog.SetDataSet(&Lineas);
  EXPECT_TRUE(Dialog.SearchForm()->Engine()->MasterSlave());
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:3");
    EXPECT_EQ(Lineas.MasterSource(), &PedidosSrc);
    AddToFilter(F, "Discount", "mayor o igual a", "5");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    ClickCell(F.DBGrid1, 1, 0);
  });
  EXPECT_TRUE(Dialog.Find());
  EXPECT_EQ(Int(Pedidos, "OrderNo"), 100) << "the master never moves";
  EXPECT_EQ(Int(Lineas, "ItemNo"), 3);
  EXPECT_EQ(Lineas.RecordCount(), 3);
  ExpectLinked();
}

// A search that cannot start leaves the application's detail table linked as it was.
TEST_F(DetailTableTest, NoSearchableFieldIsAnErrorAndTheLinkStays) {
  Dialog.SetDataSet(&Lineas);
  for (int I = 0; I < Lineas.FieldCount(); ++I) Lineas.Fields(I)->SetVisible(false);
  ExpectError([&] { Dialog.Execute(); }, "La tabla no tiene campos en los que buscar");
  ExpectLinked();
  EXPECT_EQ(Lineas.RecordCount(), 3);
}

TEST(SearchDialogQuery, AQueryIsSearchedAndPositioned) {
  TQuery Q;
  Q.SetDatabaseName(DatabaseDir());
  Q.SQL().Add("select OrderNo, ItemNo, Qty from \"LINEAS.DB\"");
  Q.Open();
  TSearchDialog D;
  D.SetDataSet(&Q);
  OnForm(D, [&](TSearchDialogBox& F) {
    AddToFilter(F, "Qty", "mayor que", "6");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    ClickCell(F.DBGrid1, 1, 0);
  });
  EXPECT_TRUE(D.Find());
  EXPECT_EQ(Q.FieldByName("Qty")->AsInteger(), 9);
  EXPECT_EQ(Q.FieldByName("OrderNo")->AsInteger(), 104);
  EXPECT_FALSE(Q.Filtered());
  EXPECT_EQ(Q.RecordCount(), 8);
}

TEST(SearchDialogErrors, ADatasetThatDoesNotOpen) {
  TTable Missing;
  Missing.SetDatabaseName(DatabaseDir());
  Missing.SetTableName("NOEXISTE.DB");
  TSearchDialog D;
  ExpectError([&] { D.SetDataSet(&Missing); }, "La tabla no se ha podido abrir para la busqueda");
  EXPECT_EQ(D.DataSet(), &Missing) << "the property holds it all the same";
  ExpectError([&] { D.SetDataSet(nullptr); }, "La tabla no se ha podido abrir para la busqueda");
  // At design time nothing is opened.
  TSearchDialog Designed;
  Designed.SetDesigning(true);
  Designed.SetDataSet(&Missing);
  EXPECT_EQ(Designed.DataSet(), &Missing);
}

// A closed table has no fields until it opens: it is opened before the engine is given it, so
// assigning one that opens is no error.
TEST(SearchDialogErrors, AClosedTableThatOpensIsAccepted) {
  TTable T;
  T.SetDatabaseName(DatabaseDir());
  T.SetTableName("CLIENTES.DB");
  ASSERT_EQ(T.FieldCount(), 0);
  TSearchDialog D;
  D.SetDataSet(&T);
  EXPECT_TRUE(T.Active());
  EXPECT_EQ(D.SearchForm()->Engine()->DataSet(), &T);
}

TEST(SearchDialogErrors, ADatasetWithNothingToKeepAPositionBy) {
  TMemDataSet DS;
  DS.FieldDefs().Add("Day", ftDate);
  DS.FieldDefs().Add("Flag", ftBoolean);
  DS.CreateDataSet();
  DS.AppendRecord({EncodeDate(2000, 1, 1), true});
  TSearchDialog D;
  D.SetDataSet(&DS);
  ExpectError([&] { D.Find(); }, "La tabla no tiene campos por los que se pueda igualar");
}

// The component watches its dataset: once it is destroyed the component and its engine drop it,
// and a later search says the table cannot be opened.
TEST(SearchDialogErrors, ADestroyedDatasetIsDropped) {
  auto* T = new TTable;
  OpenTable(*T, "CLIENTES.DB");
  TSearchDialog D;
  D.SetDataSet(T);
  OnForm(D, [](TSearchDialogBox&) {});
  EXPECT_TRUE(D.Execute());
  D.Liberate();
  delete T;
  EXPECT_EQ(D.DataSet(), nullptr);
  EXPECT_EQ(D.SearchForm()->Engine()->DataSet(), nullptr);
  EXPECT_EQ(D.Results(), nullptr);
  ExpectError([&] { D.Execute(); }, "La tabla no se ha podido abrir para la busqueda");
  ExpectError([&] { D.Find(); }, "La tabla no se ha podido abrir para la busqueda");
  TTable Other;
  OpenTable(Other, "PEDIDOS.DB");
  D.SetDataSet(&Other);
  OnForm(D, [](TSearchDialogBox& F) { EXPECT_EQ(F.CCampo->Text(), "OrderNo"); });
  EXPECT_TRUE(D.Find());
}

// The process-wide multi-select handler never outlives the component whose sum it is.
TEST(SearchDialogLifetime, TheSumHandlerGoesWithItsComponent) {
  TTable T;
  OpenTable(T, "CLIENTES.DB");
  {
    TSearchDialog D;
    D.SetDataSet(&T);
    OnForm(D, [](TSearchDialogBox&) {});
    EXPECT_TRUE(D.Find());
    EXPECT_TRUE(static_cast<bool>(ExecuteOnMultiSelect));
  }
  EXPECT_FALSE(static_cast<bool>(ExecuteOnMultiSelect));
  TSearchDialog WithHandler;
  WithHandler.SetOnMultiSelect([](TDBGrid*) { return std::string("x"); });
  { TSearchDialog Other; }
  ASSERT_TRUE(static_cast<bool>(ExecuteOnMultiSelect)) << "an application handler stays";
  EXPECT_EQ(ExecuteOnMultiSelect(nullptr), "x");
  ExecuteOnMultiSelect = nullptr;
}

}  // namespace
