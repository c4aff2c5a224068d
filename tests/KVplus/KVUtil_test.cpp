// Record positions: which fields make up a position, applying it across datasets, and moving
// detail tables together with their masters (customer -> orders -> items).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "KVUtil.h"
#include "KVplus/TableMaker.h"

using namespace kv;

namespace {

// Records what a view hears: b(efore) change, c(hanged), s(crolled).
struct TViewLog : TDataLink {
  std::string Log;
  void DataSetChanging() override { Log += 'b'; }
  void DataSetChanged() override { Log += 'c'; }
  void DataSetScrolled() override { Log += 's'; }
};

// Runs F and returns the message of the Exception it raises ("" when none).
template <class F>
std::string MessageOf(F&& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

// ---------------------------------------------------------------- positions in memory

TEST(KVUtilGetPos, OnlyStringIntegerAndFloatDataFieldsQualify) {
  TMemDataSet DS;
  const struct {
    const char* Name;
    TFieldType Type;
    Variant Value;
  } Cols[] = {{"Code", ftSmallint, 7},   {"CustNo", ftInteger, 1221},
              {"Flag", ftBoolean, true}, {"Company", ftString, "Velero Azul"},
              {"Paid", ftCurrency, 9.5}, {"Since", ftDate, EncodeDate(1999, 1, 2)},
              {"Notes", ftMemo, "x"},    {"Amount", ftFloat, 20.5},
              {"Id", ftAutoInc, 3},      {"Empty", ftString, Null()}};
  std::vector<Variant> Row;
  for (const auto& C : Cols) {
    DS.FieldDefs().Add(C.Name, C.Type, C.Type == ftString ? 20 : 0);
    Row.push_back(C.Value);
  }
  DS.CreateDataSet();
  DS.AppendRecord(Row);
  TPos Pos;
  EXPECT_TRUE(GetPos(Pos, &DS));
  EXPECT_EQ(Pos.Fields, "CustNo;Company;Amount;Empty");
  ASSERT_TRUE(Pos.values.IsArray());
  ASSERT_EQ(VarArrayHighBound(Pos.values), 3);
  EXPECT_EQ(Pos.values[0], Variant(1221));
  EXPECT_EQ(Pos.values[1], Variant("Velero Azul"));
  EXPECT_EQ(Pos.values[2], Variant(20.5));
  EXPECT_TRUE(Pos.values[3].IsNull());
}

TEST(KVUtilGetPos, ShapeOfValuesAndErrors) {
  // One integer field alone: the bare value.
  TMemDataSet One;
  One.FieldDefs().Add("N", ftInteger);
  One.CreateDataSet();
  One.AppendRecord({42});
  TPos Pos;
  GetPos(Pos, &One);
  EXPECT_EQ(Pos.Fields, "N");
  EXPECT_FALSE(Pos.values.IsArray());
  EXPECT_EQ(Pos.values, Variant(42));

  // A string, a date and a lookup string: the string alone, still an array.
  TMemDataSet Lk;
  Lk.AddField<TStringField>("Name");
  Lk.AddField<TDateField>("Born");
  Lk.AddLookupField("City", ftString, &One, "Name", "N", "N", 20);
  Lk.CreateDataSet();
  Lk.AppendRecord({"Ana", EncodeDate(2000, 1, 1)});
  GetPos(Pos, &Lk);
  EXPECT_EQ(Pos.Fields, "Name");
  ASSERT_TRUE(Pos.values.IsArray());
  EXPECT_EQ(VarArrayHighBound(Pos.values), 0);
  EXPECT_EQ(Pos.values[0], Variant("Ana"));

  TMemDataSet NoKey;
  NoKey.FieldDefs().Add("Born", ftDate);
  NoKey.FieldDefs().Add("Flag", ftBoolean);
  NoKey.FieldDefs().Add("Notes", ftMemo);
  NoKey.CreateDataSet();
  EXPECT_EQ(MessageOf([&] { GetPos(Pos, &NoKey); }),
            "La tabla no tiene campos por los que se pueda igualar");
  EXPECT_EQ(Pos.Fields, "");

  TMemDataSet NoFields;
  EXPECT_EQ(MessageOf([&] { GetPos(Pos, &NoFields); }), "La tabla no tiene campos estáticos");
}

TEST(KVUtilGetFieldsValues, OneElementPerNameMissingOnesUnassigned) {
  TMemDataSet DS;
  DS.FieldDefs().Add("A", ftInteger);
  DS.FieldDefs().Add("B", ftString, 5);
  DS.CreateDataSet();
  DS.AppendRecord({1, "x"});
  Variant V;
  GetFieldsValues("B;Z;A", &DS, V);
  ASSERT_EQ(VarArrayHighBound(V), 2);
  EXPECT_EQ(V[0], Variant("x"));
  EXPECT_TRUE(V[1].IsEmpty());
  EXPECT_EQ(V[2], Variant(1));
  GetFieldsValues("A", &DS, V);
  EXPECT_EQ(V, Variant(1));
}

// A target with CustNo and City where only City tells two records apart.
TEST(KVUtilGotoPos, SkipsNamesTheTargetLacks) {
  TMemDataSet Src;
  Src.FieldDefs().Add("CustNo", ftInteger);
  Src.FieldDefs().Add("Company", ftString, 20);
  Src.FieldDefs().Add("City", ftString, 20);
  Src.CreateDataSet();
  Src.AppendRecord({5, "Velero Azul", "Lima"});
  TMemDataSet Dst;
  Dst.FieldDefs().Add("City", ftString, 20);
  Dst.FieldDefs().Add("CustNo", ftInteger);
  Dst.CreateDataSet();
  for (const char* C : {"Madrid", "Lima", "Quito"}) Dst.AppendRecord({C, 5});
  Dst.First();
  TPos Pos;
  GetPos(Pos, &Src);
  EXPECT_TRUE(GotoPos(Pos, &Dst, false));
  EXPECT_EQ(Dst.RecNo(), 2);

  // A bare single value is a one-element list; no common name finds nothing.
  TPos Single{"City", Variant("Quito")};
  EXPECT_TRUE(GotoPos(Single, &Dst, false));
  EXPECT_EQ(Dst.RecNo(), 3);
  EXPECT_FALSE(GotoPos(TPos{"Zip;Phone", VarArrayCreate(0, 1)}, &Dst, false));
  EXPECT_EQ(Dst.RecNo(), 3);
  EXPECT_FALSE(GotoPos(TPos{"City", Variant("Paris")}, &Dst, false));
}

TEST(KVUtilKeys, DatasetsWithoutKey) {
  TMemDataSet DS;
  DS.FieldDefs().Add("A", ftInteger);
  DS.CreateDataSet();
  DS.AppendRecord({1});
  EXPECT_EQ(GetKeyFields(&DS), "");
  EXPECT_TRUE(GetKeyValues(&DS).IsNull());
}

// ---------------------------------------------------------------- tables on disk

// Sample tables in a private directory: customer (key CustNo), orders (key OrderNo),
// items (key OrderNo;ItemNo;PartNo) and a keyless notes table.
class KVUtilTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char Tmpl[] = "/tmp/kvutilXXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    Make("customer.db",
         {{"CustNo", ftInteger, 0}, {"Company", ftString, 30}, {"City", ftString, 20}}, {"CustNo"},
         {{1, "Uno SA", "Lima"}, {2, "Dos SL", "Quito"}, {3, "Tres SA", "Cuzco"}});
    Make("orders.db", {{"OrderNo", ftInteger, 0}, {"CustNo", ftInteger, 0}, {"Total", ftFloat, 0}},
         {"OrderNo"}, {{10, 1, 5.5}, {11, 1, 7.0}, {20, 2, 9.0}, {30, 3, 1.0}});
    Make("items.db",
         {{"OrderNo", ftInteger, 0},
          {"ItemNo", ftInteger, 0},
          {"PartNo", ftInteger, 0},
          {"Qty", ftInteger, 0}},
         {"OrderNo", "ItemNo", "PartNo"},
         {{10, 1, 100, 1}, {11, 1, 101, 2}, {20, 1, 102, 3}, {20, 2, 103, 4}, {30, 1, 104, 5}});
    Make("notes.db", {{"Text", ftString, 10}}, {}, {{"a"}});
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(Dir); }

  using TCol = kvtest::TCol;
  static void Make(const std::string& Name, const std::vector<TCol>& Defs,
                   const std::vector<std::string>& Key,
                   const std::vector<std::vector<Variant>>& Rows) {
    kvtest::MakeTable(Dir, Name, Defs, Key, Rows);
  }

  // Opens customer, orders as its detail and items as the detail of orders.
  void OpenChain(TTable& Mid, TTable& Last) {
    const std::pair<TTable*, const char*> Files[] = {
        {&Customer, "customer.db"}, {&Mid, "orders.db"}, {&Last, "items.db"}};
    for (auto [T, N] : Files) {
      T->SetDatabaseName(Dir);
      T->SetTableName(N);
    }
    CustSrc.SetDataSet(&Customer);
    OrdSrc.SetDataSet(&Mid);
    Mid.SetIndexFieldNames("CustNo");
    Mid.SetMasterSource(&CustSrc);
    Mid.SetMasterFields("CustNo");
    Last.SetIndexFieldNames("OrderNo;ItemNo");
    Last.SetMasterSource(&OrdSrc);
    Last.SetMasterFields("OrderNo");
    Customer.Open();
    Mid.Open();
    Last.Open();
  }
  static int Int(TDataSet& DS, const char* F) { return DS.FieldByName(F)->AsInteger(); }

  // A view of Items, recording what it hears.
  TViewLog& WatchItems() {
    ItemsView.SetDataSet(&Items);
    ItemsLog.SetDataSource(&ItemsView);
    return ItemsLog;
  }

  static inline std::string Dir;
  TTable Customer, Orders, Items;
  TDataSource CustSrc, OrdSrc, ItemsView;
  TViewLog ItemsLog;
};

// A class of its own is no plain table for GotoPos.
class TDerivedTable : public TTable {};

TEST_F(KVUtilTables, LocateKVMovesMastersThroughTwoLevels) {
  OpenChain(Orders, Items);
  ASSERT_EQ(Int(Customer, "CustNo"), 1);
  Variant Key = VarArrayCreate(0, 1);
  Key[0] = 20;
  Key[1] = 2;
  EXPECT_TRUE(locateKV(&Items, "OrderNo;ItemNo", Key, 0));
  EXPECT_EQ(Int(Customer, "CustNo"), 2);
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);
  EXPECT_EQ(Int(Items, "PartNo"), 103);
  EXPECT_EQ(Items.RecordCount(), 2);  // restricted to order 20 again
  EXPECT_EQ(Items.MasterFields(), "OrderNo");
  EXPECT_EQ(Items.MasterSource(), &OrdSrc);

  // A missing record leaves every master where it was; a failing locate keeps the link.
  Key[0] = 99;
  EXPECT_FALSE(locateKV(&Items, "OrderNo;ItemNo", Key, 0));
  EXPECT_EQ(Int(Customer, "CustNo"), 2);
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);
  EXPECT_THROW(locateKV(&Items, "Nope", Variant(1), 0), EDatabaseError);
  EXPECT_EQ(Items.MasterSource(), &OrdSrc);
  EXPECT_EQ(Items.RecordCount(), 2);
}

TEST_F(KVUtilTables, GotoPosExactTableVersusDerivedAndMasterSlave) {
  OpenChain(Orders, Items);
  TDerivedTable Derived;
  Derived.SetDatabaseName(Dir);
  Derived.SetTableName("orders.db");
  Derived.SetIndexFieldNames("CustNo");
  Derived.SetMasterSource(&CustSrc);
  Derived.SetMasterFields("CustNo");
  Derived.Open();
  const TPos Order30{"OrderNo", Variant(30)};
  EXPECT_FALSE(GotoPos(Order30, &Derived, false));
  EXPECT_FALSE(GotoPos(Order30, &Orders, true));
  EXPECT_EQ(Int(Customer, "CustNo"), 1);
  EXPECT_TRUE(GotoPos(Order30, &Orders, false));
  EXPECT_EQ(Int(Customer, "CustNo"), 3);
  EXPECT_EQ(Int(Orders, "OrderNo"), 30);
}

TEST_F(KVUtilTables, QueryPositionAppliedToTable) {
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select CustNo, Company, City from \"customer.db\" where CustNo = 3");
  Q.Open();
  TPos Pos;
  GetPos(Pos, &Q);
  EXPECT_EQ(Pos.Fields, "CustNo;Company;City");
  TMemDataSet T;  // CustNo and City only; CustNo alone is ambiguous
  T.FieldDefs().Add("CustNo", ftInteger);
  T.FieldDefs().Add("City", ftString, 20);
  T.CreateDataSet();
  for (const char* C : {"Lima", "Cuzco", "Quito"}) T.AppendRecord({3, C});
  EXPECT_TRUE(GotoPos(Pos, &T, false));
  EXPECT_EQ(T.RecNo(), 2);
}

TEST_F(KVUtilTables, KeyFieldsAndValues) {
  OpenChain(Orders, Items);
  EXPECT_EQ(GetKeyFields(&Customer), "CustNo");
  EXPECT_EQ(GetKeyValues(&Customer), Variant(1));
  EXPECT_EQ(GetKeyFields(&Items), "OrderNo;ItemNo;PartNo");
  Variant V = GetKeyValues(&Items);
  ASSERT_TRUE(V.IsArray());
  ASSERT_EQ(VarArrayHighBound(V), 2);
  EXPECT_EQ(V[2], Variant(Int(Items, "PartNo")));

  TTable Notes;
  Notes.SetDatabaseName(Dir);
  Notes.SetTableName("notes.db");
  Notes.Open();
  EXPECT_EQ(GetKeyFields(&Notes), "");
  EXPECT_TRUE(GetKeyValues(&Notes).IsNull());

  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select OrderNo as A, CustNo as B, Total as C from \"orders.db\" where OrderNo = 11");
  Q.Open();
  EXPECT_EQ(GetKeyFields(&Q), "A;B;C");
  V = GetKeyValues(&Q);
  ASSERT_EQ(VarArrayHighBound(V), 2);
  EXPECT_EQ(V[0], Variant(11));
}

TEST_F(KVUtilTables, IgualaPosicionMovesTargetAndMasters) {
  // Derived classes locate plainly: only the masters' own files can move the masters.
  TDerivedTable DOrders, DItems;
  OpenChain(DOrders, DItems);
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from \"items.db\" where OrderNo = 30");
  Q.Open();
  Iguala_posicion(&DItems, &Q);
  EXPECT_EQ(Int(Customer, "CustNo"), 3);
  EXPECT_EQ(Int(DOrders, "OrderNo"), 30);
  EXPECT_EQ(Int(DItems, "PartNo"), 104);
  // A record whose master is missing moves no master.
  TMemDataSet Orphan;
  Orphan.FieldDefs().Add("OrderNo", ftInteger);
  Orphan.FieldDefs().Add("ItemNo", ftInteger);
  Orphan.CreateDataSet();
  Orphan.AppendRecord({99, 1});
  Iguala_posicion(&DItems, &Orphan);
  EXPECT_EQ(Int(Customer, "CustNo"), 3);
  EXPECT_EQ(Int(DOrders, "OrderNo"), 30);

  // Masters that are not tables.
  TTable Detail;
  Detail.SetDatabaseName(Dir);
  Detail.SetTableName("orders.db");
  Detail.SetIndexFieldNames("CustNo");
  TDataSource QSrc;
  QSrc.SetDataSet(&Q);
  Detail.SetMasterSource(&QSrc);
  Detail.SetMasterFields("CustNo");
  EXPECT_EQ(MessageOf([&] { Iguala_posicion(&Detail, &Q); }),
            "No se puede igualar tablas con maestros Query");
  TMemDataSet Mem;
  Mem.FieldDefs().Add("CustNo", ftInteger);
  Mem.CreateDataSet();
  Mem.AppendRecord({1});
  QSrc.SetDataSet(&Mem);
  Detail.Open();
  EXPECT_EQ(MessageOf([&] { locateKV(&Detail, "OrderNo", Variant(30), 0); }),
            "No se permiten maestros de tablas que no sean TTable");
  EXPECT_EQ(Detail.MasterSource(), &QSrc);
  EXPECT_EQ(Detail.RecordCount(), 2);
}

// A view of the detail hears only what it shows changing: nothing while the wanted record is
// under the current master, one change when the masters move, and a failed locate leaves the
// detail on its first record.
TEST_F(KVUtilTables, LocateKVTellsADetailViewOnlyRealChanges) {
  OpenChain(Orders, Items);
  TViewLog& Link = WatchItems();
  auto Key = [](int Order, int Item) {
    Variant K = VarArrayCreate(0, 1);
    K[0] = Order;
    K[1] = Item;
    return K;
  };

  Link.Log.clear();
  EXPECT_TRUE(locateKV(&Items, "OrderNo;ItemNo", Key(10, 1), 0));
  EXPECT_EQ(Link.Log, "");
  EXPECT_EQ(Int(Items, "PartNo"), 100);

  // Two levels up: customer 1 -> 2, order 10 -> 20; the detail changes once, then moves.
  EXPECT_TRUE(locateKV(&Items, "OrderNo;ItemNo", Key(20, 2), 0));
  EXPECT_EQ(Link.Log, "bcs");
  EXPECT_EQ(Int(Customer, "CustNo"), 2);
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);
  EXPECT_EQ(Int(Items, "PartNo"), 103);

  Link.Log.clear();
  EXPECT_FALSE(locateKV(&Items, "OrderNo;ItemNo", Key(20, 9), 0));
  EXPECT_EQ(Link.Log, "s");
  EXPECT_EQ(Items.RecNo(), 1);
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);

  // A position carried over from a query moves exact tables and both their masters.
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from \"items.db\" where OrderNo = 30");
  Q.Open();
  Link.Log.clear();
  Iguala_posicion(&Items, &Q);
  EXPECT_EQ(Int(Customer, "CustNo"), 3);
  EXPECT_EQ(Int(Orders, "OrderNo"), 30);
  EXPECT_EQ(Int(Items, "PartNo"), 104);
  EXPECT_EQ(Link.Log.find("bcbc"), std::string::npos) << Link.Log;
  EXPECT_EQ(Items.MasterSource(), &OrdSrc);
  EXPECT_EQ(Items.RecordCount(), 1);

  // A filtered detail: the first match the filter lets through, under its own master.
  Items.SetFilter("Qty > 3");
  Items.SetFiltered(true);
  EXPECT_TRUE(locateKV(&Items, "OrderNo", Variant(20), 0));
  EXPECT_EQ(Int(Items, "PartNo"), 103);
  EXPECT_EQ(Int(Customer, "CustNo"), 2);
  EXPECT_FALSE(locateKV(&Items, "PartNo", Variant(101), 0));
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);
}

// What an accepted search over a whole detail table does, as a view of the detail hears it: the
// chosen record carried over, the link restored, the masters moved to the record's own. Each
// real change of the rows is heard once; locating never re-reads them.
TEST_F(KVUtilTables, AcceptedSearchOverAWholeDetailTellsItsViewEachChangeOnce) {
  OpenChain(Orders, Items);
  TViewLog& Link = WatchItems();
  Items.SetMasterSource(nullptr);  // the search shows every item
  Items.SetMasterFields("");
  Variant Key = VarArrayCreate(0, 1);
  Key[0] = 20;
  Key[1] = 2;
  ASSERT_TRUE(Items.Locate("OrderNo;ItemNo", Key, 0));  // the user's choice

  Link.Log.clear();
  Iguala_posicion(&Items, &Items);
  EXPECT_EQ(Link.Log, "");
  TPos Pos;
  GetPos(Pos, &Items);
  Items.SetMasterSource(&OrdSrc);
  Items.SetMasterFields("OrderNo");
  EXPECT_EQ(Link.Log, "sbc");  // to the first record, then order 10's items
  EXPECT_TRUE(GotoPos(Pos, &Items, false));
  EXPECT_EQ(Link.Log, "sbcbcs");  // order 20's items, then the chosen one
  EXPECT_EQ(Int(Customer, "CustNo"), 2);
  EXPECT_EQ(Int(Orders, "OrderNo"), 20);
  EXPECT_EQ(Int(Items, "PartNo"), 103);
}

}  // namespace
