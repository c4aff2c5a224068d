// TTable over table files: databases and names, index order, two-level master-detail, index
// definitions and batch moves; TQuery over the same files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "DBTables.h"
#include "Database.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

// Records what a view hears: b(efore) change, c(hanged), s(crolled).
struct TViewLog : TDataLink {
  std::string Log;
  void DataSetChanging() override { Log += 'b'; }
  void DataSetChanged() override { Log += 'c'; }
  void DataSetScrolled() override { Log += 's'; }
};

class TablesTest : public ::testing::Test {
 protected:
  fs::path Dir;

  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("kvtables-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Write("CUSTOMER.DB", {{"CustNo", ftFloat}, {"Company", ftString, 30}, {"City", ftString, 15}},
          {"CustNo"},
          {{1221.0, "Buceo Ñandú", "Almuñécar"},
           {1231.0, "Velero Azul", "Cádiz"},
           {1351.0, "Corales del Sur", "Vigo"}});
    Write("ORDERS.DB", {{"OrderNo", ftFloat}, {"CustNo", ftFloat}, {"Amount", ftCurrency}},
          {"OrderNo"},
          {{1003.0, 1351.0, 1250.0},
           {1004.0, 1221.0, 7885.0},
           {1005.0, 1231.0, 4807.0},
           {1006.0, 1351.0, 31987.0},
           {1007.0, 1221.0, 6500.0}});
    Write("ITEMS.DB", {{"OrderNo", ftFloat}, {"ItemNo", ftFloat}, {"Qty", ftInteger}},
          {"OrderNo", "ItemNo"},
          {{1003.0, 1.0, 5},
           {1003.0, 2.0, 10},
           {1004.0, 1.0, 2},
           {1006.0, 1.0, 7},
           {1006.0, 2.0, 1},
           {1006.0, 3.0, 3}});
  }
  void TearDown() override {
    ClearTableCache();
    fs::remove_all(Dir);
  }

  void Write(const std::string& Name, const std::vector<TColumnDef>& Defs,
             const std::vector<std::string>& Key, const std::vector<std::vector<Variant>>& Rows) {
    TTableStore S;
    for (const auto& D : Defs) S.AddColumn(D);
    S.PrimaryKey = Key;
    for (const auto& R : Rows) S.AppendRow(R);
    SaveTableFile((Dir / Name).string(), S);
  }

  std::unique_ptr<TTable> Open(const std::string& Name, const std::string& Index = "") {
    auto T = std::make_unique<TTable>();
    T->SetDatabaseName(Dir.string());
    T->SetTableName(Name);
    T->SetIndexFieldNames(Index);
    T->Open();
    return T;
  }
};

std::vector<int> Column(TDataSet& DS, const char* Field) {
  std::vector<int> R;
  for (int I = 0; I < DS.RecordCount(); ++I)
    R.push_back(DS.FieldByName(Field)->ValueAt(DS.RowAt(I)).AsInteger());
  return R;
}

TEST_F(TablesTest, NamesResolveInAnyCaseWithOrWithoutExtensionAndThroughAliases) {
  for (const char* Name : {"customer.db", "Customer", "CUSTOMER.DB", "customer"}) {
    auto T = Open(Name);
    EXPECT_EQ(T->RecordCount(), 3) << Name;
  }
  auto Abs = Open((Dir / "orders.db").string());
  EXPECT_EQ(Abs->RecordCount(), 5);
  RegisterAlias("KVTEST", Dir.string());
  TTable T;
  T.SetDatabaseName("kvtest");
  T.SetTableName("items");
  T.Open();
  EXPECT_EQ(T.RecordCount(), 6);
  UnregisterAlias("KVTEST");

  TTable Missing;
  Missing.SetDatabaseName(Dir.string());
  Missing.SetTableName("nothere");
  try {
    Missing.Open();
    FAIL() << "a missing table must raise";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(E.Message().find("nothere"), std::string::npos) << E.Message();
  }
  EXPECT_FALSE(Missing.Active());
  EXPECT_EQ(Missing.FieldCount(), 0);
}

TEST_F(TablesTest, IndexFieldsOrderTheRowsAndPrimaryKeyIsReported) {
  auto Orders = Open("orders", "CustNo");
  EXPECT_EQ(Column(*Orders, "CustNo"), (std::vector<int>{1221, 1221, 1231, 1351, 1351}));
  EXPECT_EQ(Orders->IndexFieldCount(), 1);
  EXPECT_EQ(Orders->IndexFields(0)->FieldName(), "CustNo");

  auto Items = Open("items");
  TStringList Names;
  Items->GetIndexNames(Names);
  ASSERT_EQ(Items->IndexDefs().Count(), 1);
  EXPECT_TRUE(Items->IndexDefs()[0].Options & ixPrimary);
  EXPECT_EQ(Items->IndexDefs()[0].Fields, "OrderNo;ItemNo");
  EXPECT_EQ(Names.Count(), 1);
}

TEST_F(TablesTest, MasterDetailFollowsOverTwoLevels) {
  auto Customer = Open("customer");
  TDataSource DsCustomer;
  DsCustomer.SetDataSet(Customer.get());
  auto Orders = Open("orders", "CustNo");
  Orders->SetMasterSource(&DsCustomer);
  Orders->SetMasterFields("CustNo");
  TDataSource DsOrders;
  DsOrders.SetDataSet(Orders.get());
  auto Items = Open("items", "OrderNo");
  Items->SetMasterSource(&DsOrders);
  Items->SetMasterFields("OrderNo");

  // Customer 1221 has orders 1004 and 1007; order 1004 has one item.
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1004, 1007}));
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{2}));
  Orders->Next();
  EXPECT_EQ(Items->RecordCount(), 0);

  ASSERT_TRUE(Customer->Locate("CustNo", 1351, 0));
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1003, 1006}));
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{5, 10}));
  Orders->Last();
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{7, 1, 3}));

  // Lifting the link shows every order; giving it back restores the restriction.
  Orders->SetMasterSource(nullptr);
  Orders->SetMasterFields("");
  EXPECT_EQ(Orders->RecordCount(), 5);
  Orders->SetMasterSource(&DsCustomer);
  Orders->SetMasterFields("CustNo");
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1003, 1006}));

  // Detail controls disabled on the master: the detail follows when they are enabled again.
  Customer->DisableControls();
  Customer->First();
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1003, 1006}));
  Customer->EnableControls();
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1004, 1007}));
}

// The master data source dies while the detail still follows it: the detail forgets the link
// (and shows every record) instead of reading the freed source on its next refresh.
TEST_F(TablesTest, DestroyedMasterSourceLiftsTheRestriction) {
  auto Customer = Open("customer");
  auto Orders = Open("orders", "CustNo");
  auto Source = std::make_unique<TDataSource>();
  Source->SetDataSet(Customer.get());
  Orders->SetMasterSource(Source.get());
  Orders->SetMasterFields("CustNo");
  EXPECT_EQ(Column(*Orders, "OrderNo"), (std::vector<int>{1004, 1007}));
  Source.reset();
  EXPECT_EQ(Orders->MasterSource(), nullptr);
  Orders->Refresh();
  EXPECT_EQ(Orders->RecordCount(), 5);
  Customer->Next();
  EXPECT_EQ(Orders->RecordCount(), 5);
}

// An in-memory dataset opened over a loaded table's store appends to a copy of its own: every
// table opened on the file, before or after, keeps showing what the file holds.
TEST_F(TablesTest, AppendingOverALoadedStoreLeavesItUnchanged) {
  auto Orders = Open("orders");
  TMemDataSet M;
  M.OpenStore(Orders->StorePtr());
  M.AppendRecord({1008.0, 1221.0, 10.0});
  M.AppendRecord({1009.0, 1221.0, 11.0});
  EXPECT_EQ(M.RecordCount(), 7);
  EXPECT_EQ(M.FieldByName("OrderNo")->AsInteger(), 1009);
  Orders->Refresh();
  EXPECT_EQ(Orders->RecordCount(), 5);
  EXPECT_EQ(Open("orders")->RecordCount(), 5);
  EXPECT_EQ(Open("orders", "CustNo")->RecordCount(), 5);
}

// Giving a table the order or the master fields it already has changes nothing a view shows.
TEST_F(TablesTest, SameOrderOrMasterFieldsLeaveTheRecordAlone) {
  auto Customer = Open("customer");
  TDataSource Src;
  Src.SetDataSet(Customer.get());
  auto Orders = Open("orders", "CustNo");
  Orders->SetMasterSource(&Src);
  Orders->SetMasterFields("CustNo");
  Orders->Last();
  const int At = Orders->RecNo();
  ASSERT_EQ(At, 2);
  TDataSource View;
  View.SetDataSet(Orders.get());
  TViewLog Link;
  Link.SetDataSource(&View);
  Orders->SetIndexFieldNames("CustNo");
  Orders->SetMasterFields("CustNo");
  Orders->SetMasterSource(&Src);
  EXPECT_EQ(Orders->RecNo(), At);
  EXPECT_EQ(Link.Log, "");
}

TEST_F(TablesTest, BatchMoveCopiesEveryRecordInEachFormat) {
  auto Orders = Open("orders");
  Orders->SetFilter("Amount > 5000");
  Orders->SetFiltered(true);
  for (const char* Target : {"copy.db", "copy.dbf", "copy.txt"}) {
    TTable Out;
    Out.SetDatabaseName(Dir.string());
    Out.SetTableName(Target);
    EXPECT_EQ(Out.BatchMove(Orders.get(), batCopy), 3) << Target;
    Out.Open();
    EXPECT_EQ(Column(Out, "OrderNo"), (std::vector<int>{1004, 1006, 1007})) << Target;
    EXPECT_DOUBLE_EQ(Out.FieldByName("Amount")->AsFloat(), 7885.0) << Target;
  }
}

TEST_F(TablesTest, FailedBatchMoveLeavesTheOldFileUntouched) {
  auto Orders = Open("orders");
  const fs::path Target = Dir / "CUSTOMER.DB";
  const auto Before = fs::file_size(Target);
  TTable Out;
  Out.SetDatabaseName(Dir.string());
  fs::create_directories(Dir / "adir.db");
  Out.SetTableName("adir.db");
  EXPECT_THROW(Out.BatchMove(Orders.get(), batCopy), EDatabaseError);
  EXPECT_TRUE(fs::is_directory(Dir / "adir.db"));
  Out.SetTableName((Dir / "nodir" / "x.db").string());
  EXPECT_THROW(Out.BatchMove(Orders.get(), batCopy), EDatabaseError);
  EXPECT_EQ(fs::file_size(Target), Before);
  for (const auto& E : fs::directory_iterator(Dir))
    EXPECT_EQ(E.path().filename().string().find(".tmp"), std::string::npos) << E.path();
}

TEST_F(TablesTest, QueryRunsLocalSqlAndBindsPersistentFieldsByName) {
  TQuery Q;
  Q.SetDatabaseName(Dir.string());
  auto* Amount = Q.AddField<TCurrencyField>("Amount");
  Q.AddField<TFloatField>("OrderNo");
  Q.SQL().Add("Select * From \"orders.db\" Where \"orders.db\".\"CustNo\"=1351");
  Q.SQL().Add("Order by \"orders.db\".\"OrderNo\" DESC");
  Q.Open();
  EXPECT_EQ(Q.FieldCount(), 2);
  EXPECT_EQ(Column(Q, "OrderNo"), (std::vector<int>{1006, 1003}));
  EXPECT_DOUBLE_EQ(Amount->AsFloat(), 31987.0);
  Q.SetFilter("Amount < 2000");
  EXPECT_TRUE(Q.FindFirst());
  EXPECT_EQ(Q.FieldByName("OrderNo")->AsInteger(), 1003);
}

// A query that selects rows of one table, all or some, with its columns as they are shows that
// table's own rows, in the statement's order: nothing is copied, and filters, finding and copies
// work on them as on any result (a copy declares no key). A query that computes, renames or
// joins gets a result of its own.
TEST_F(TablesTest, QueryOfATablesRowsAsTheyAreShowsThemWithoutACopy) {
  auto Orders = Open("orders");
  TQuery Q;
  Q.SetDatabaseName(Dir.string());
  Q.SQL().Add("select * from orders order by Amount desc");
  Q.Open();
  EXPECT_EQ(Q.Store(), Orders->Store());
  EXPECT_EQ(Column(Q, "OrderNo"), (std::vector<int>{1006, 1004, 1007, 1005, 1003}));
  EXPECT_FALSE(Q.FieldDefs().Items(0).Required);
  Q.SetFilter("CustNo = 1221");
  Q.SetFiltered(true);
  EXPECT_EQ(Column(Q, "OrderNo"), (std::vector<int>{1004, 1007}));
  Q.SetFiltered(false);
  Q.SetFilter("OrderNo = 1007");
  EXPECT_TRUE(Q.FindFirst());
  EXPECT_EQ(Q.RecNo(), 3);
  TTable Out;
  Out.SetDatabaseName(Dir.string());
  Out.SetTableName("top.db");
  EXPECT_EQ(Out.BatchMove(&Q, batCopy), 5);
  Out.Open();
  EXPECT_EQ(Column(Out, "OrderNo"), (std::vector<int>{1006, 1004, 1007, 1005, 1003}));
  EXPECT_TRUE(Out.Store()->PrimaryKey.empty());
  Q.Close();
  Q.Open();
  EXPECT_EQ(Q.RecordCount(), 5);

  for (const char* Sql :
       {"select OrderNo, Amount from orders", "select OrderNo as N, CustNo, Amount from orders",
        "select * from orders, customer"}) {
    TQuery Own;
    Own.SetDatabaseName(Dir.string());
    Own.SQL().Add(Sql);
    Own.Open();
    EXPECT_NE(Own.Store(), Orders->Store()) << Sql;
    EXPECT_EQ(static_cast<size_t>(Own.RecordCount()), Own.Store()->RowCount()) << Sql;
  }
  TQuery Part;
  Part.SetDatabaseName(Dir.string());
  Part.SQL().Add("select * from orders where Amount > 5000 order by Amount desc");
  Part.Open();
  // Some of the table's rows, ordered: a view over its store too, holding only them.
  EXPECT_EQ(Part.Store(), Orders->Store());
  EXPECT_EQ(Part.RecordCount(), 3);
  EXPECT_EQ(Column(Part, "OrderNo"), (std::vector<int>{1006, 1004, 1007}));
  EXPECT_DOUBLE_EQ(Part.FieldByName("Amount")->AsFloat(), 31987.0);
}

// A batch move of chosen fields writes only those, in the order given, computing a lookup field.
TEST_F(TablesTest, BatchMoveOfChosenFieldsWritesOnlyThose) {
  auto Customer = Open("customer");
  TTable Orders;
  Orders.SetDatabaseName(Dir.string());
  Orders.SetTableName("orders");
  Orders.AddField<TFloatField>("OrderNo");
  Orders.AddField<TFloatField>("CustNo");
  Orders.AddField<TCurrencyField>("Amount");
  Orders.AddLookupField("Company", ftString, Customer.get(), "CustNo", "CustNo", "Company", 30);
  Orders.Open();
  Orders.SetFilter("Amount > 5000");
  Orders.SetFiltered(true);
  TTable Out;
  Out.SetDatabaseName(Dir.string());
  Out.SetTableName("chosen.db");
  EXPECT_EQ(Out.BatchMove(&Orders, batCopy,
                          {Orders.FieldByName("Company"), Orders.FieldByName("OrderNo")}),
            3);
  Out.Open();
  ASSERT_EQ(Out.FieldCount(), 2);
  EXPECT_EQ(Out.Fields(0)->FieldName(), "Company");
  EXPECT_EQ(Column(Out, "OrderNo"), (std::vector<int>{1004, 1006, 1007}));
  EXPECT_EQ(Out.FieldByName("Company")->AsString(), "Buceo Ñandú");
  // The key does not lead this copy: none is written.
  EXPECT_TRUE(Out.Store()->PrimaryKey.empty());
  EXPECT_THROW(Out.BatchMove(&Orders, batCopy, {Customer->FieldByName("City")}), EDatabaseError);
}

// Looking for a record over the whole table without cutting the master link finds the stored
// row a locate with the link cut finds (index order, filter, options, Nulls, keys with and
// without the link fields), and moves nothing a view could see.
TEST_F(TablesTest, LocateUnlinkedFindsWhatACutLinkFinds) {
  // Lines stored out of index order, with repeated keys, Nulls and texts differing in case.
  std::vector<std::vector<Variant>> Rows;
  const char* Notes[] = {"caja", "Caja", "CAJA", "", "cajón", "saco"};
  for (int I = 0; I < 60; ++I) {
    const int Order = 1003 + (I * 7) % 5;  // orders 1003..1007
    Variant Note = Notes[(I * 5) % 6][0] ? Variant(std::string(Notes[(I * 5) % 6])) : Null();
    Rows.push_back({double(Order), double((I * 11) % 4), (I * 3) % 7, Note});
  }
  Write("LINES.DB",
        {{"OrderNo", ftFloat}, {"ItemNo", ftFloat}, {"Qty", ftInteger}, {"Note", ftString, 10}}, {},
        Rows);
  auto Orders = Open("orders");
  TDataSource DsOrders;
  DsOrders.SetDataSet(Orders.get());
  auto Lines = Open("lines", "OrderNo;ItemNo");
  Lines->SetMasterSource(&DsOrders);
  Lines->SetMasterFields("OrderNo");
  TDataSource View;
  View.SetDataSet(Lines.get());
  TViewLog Link;
  Link.SetDataSource(&View);

  auto Key = [](std::vector<Variant> V) {
    Variant A = VarArrayCreate(0, static_cast<int>(V.size()) - 1);
    for (size_t I = 0; I < V.size(); ++I) A[static_cast<int>(I)] = V[I];
    return A;
  };
  const struct {
    const char* Fields;
    Variant Values;
    TLocateOptions Options;
  } Cases[] = {
      {"OrderNo", Variant(1005.0), 0},
      {"OrderNo;ItemNo", Key({1006.0, 2.0}), 0},
      {"OrderNo;Qty", Key({1004.0, 3}), 0},
      {"OrderNo;Note", Key({1007.0, "caja"}), 0},
      {"OrderNo;Note", Key({1007.0, "CAJA"}), loCaseInsensitive},
      {"OrderNo;Note", Key({1003.0, "caj"}), loPartialKey},
      {"OrderNo;Note", Key({1003.0, Null()}), 0},
      {"OrderNo;Note", Key({1003.0, ""}), 0},
      {"Qty", Variant(4), 0},
      {"Note;Qty", Key({"saco", 2}), 0},
      {"OrderNo", Variant("1006"), 0},
      {"OrderNo", Variant(2000.0), 0},
      {"ItemNo;OrderNo", Key({3.0, 1004.0}), 0},
  };
  for (const char* Filter : {"", "Qty > 2", "Note = 'Caja'"}) {
    Lines->SetFilter(Filter);
    Lines->SetFiltered(Filter[0] != 0);
    for (const auto& C : Cases) {
      SCOPED_TRACE(std::string(C.Fields) + " filter " + Filter);
      Orders->Locate("OrderNo", 1006.0, 0);
      Lines->Last();
      const TBookmark At = Lines->GetBookmark();
      const int Count = Lines->RecordCount();
      Link.Log.clear();
      const TBookmark Row = Lines->LocateUnlinked(C.Fields, C.Values, C.Options);
      EXPECT_EQ(Link.Log, "");
      EXPECT_EQ(Lines->GetBookmark(), At);
      EXPECT_EQ(Lines->RecordCount(), Count);

      Lines->SetMasterSource(nullptr);
      Lines->SetMasterFields("");
      const TBookmark Want =
          Lines->Locate(C.Fields, C.Values, C.Options) ? Lines->GetBookmark() : NoBookmark;
      Lines->SetMasterSource(&DsOrders);
      Lines->SetMasterFields("OrderNo");
      EXPECT_EQ(Row, Want);
    }
  }
  // Bad keys fail as the locate does.
  EXPECT_THROW(Lines->LocateUnlinked("Nope", Variant(1), 0), EDatabaseError);
  EXPECT_THROW(Lines->LocateUnlinked("OrderNo", Variant("x"), 0), EDatabaseError);
  EXPECT_THROW(Lines->LocateUnlinked("OrderNo;ItemNo", Variant(1003.0), 0), EDatabaseError);
}

// A link cut and restored one property at a time re-reads the rows only when they change, and
// the record ends where a re-read leaves it.
TEST_F(TablesTest, LinkCutInStepsKeepsRowsAndRecord) {
  auto Orders = Open("orders");
  TDataSource DsOrders;
  DsOrders.SetDataSet(Orders.get());
  auto Items = Open("items", "OrderNo;ItemNo");
  Items->SetMasterSource(&DsOrders);
  Items->SetMasterFields("OrderNo");
  ASSERT_TRUE(Orders->Locate("OrderNo", 1006.0, 0));
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{7, 1, 3}));
  Items->Last();
  Items->SetMasterSource(nullptr);
  EXPECT_EQ(Items->RecordCount(), 6);
  Items->Last();
  Items->SetMasterFields("");  // changes no row
  EXPECT_EQ(Items->RecNo(), 1);
  EXPECT_EQ(Items->RecordCount(), 6);
  Items->Last();
  Items->SetMasterSource(&DsOrders);  // still no MasterFields: every row
  EXPECT_EQ(Items->RecNo(), 1);
  EXPECT_EQ(Items->RecordCount(), 6);
  Items->SetMasterFields("OrderNo");
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{7, 1, 3}));
  // Rows ranked within a bucket follow the full index order, as without the link.
  Items->SetIndexFieldNames("OrderNo;Qty");
  EXPECT_EQ(Column(*Items, "Qty"), (std::vector<int>{1, 3, 7}));
}

}  // namespace

TEST_F(TablesTest, OpenTablesAreFoundByAnyPathToTheirFile) {
  const std::string File = (Dir / "CUSTOMER.DB").string();
  EXPECT_EQ(FindOpenTableOnFile(File), nullptr);
  auto T = Open("customer");
  EXPECT_EQ(FindOpenTableOnFile(File), T.get());
  EXPECT_EQ(FindOpenTableOnFile((Dir / "." / "CUSTOMER.DB").string()), T.get());
  fs::create_symlink(File, Dir / "alias.db");
  EXPECT_EQ(FindOpenTableOnFile((Dir / "alias.db").string()), T.get());
  EXPECT_EQ(FindOpenTableOnFile((Dir / "ORDERS.DB").string()), nullptr);
  T->Close();
  EXPECT_EQ(FindOpenTableOnFile(File), nullptr);
  T->Open();
  T.reset();
  EXPECT_EQ(FindOpenTableOnFile(File), nullptr);
}
