// TTable over a SQLite table: fields and indexes from the catalog, records read a window at a
// time (a bounded number held, jumps and bookmarks by statements), index order with Nulls and
// ties, master-detail, lookup fields read with the window, and the errors that name what failed.
#include <gtest/gtest.h>

#include <fstream>

#include "DbCursor.h"
#include "DbTypes.h"
#include "db/SqliteTestDb.h"

using namespace kv;

namespace {

constexpr int kOrders = 5000;

Variant Pair(Variant A, Variant B) {
  Variant V = VarArrayCreate(0, 1);
  V[0] = std::move(A);
  V[1] = std::move(B);
  return V;
}

class SqliteTable : public ::testing::Test {
 protected:
  TSqliteFile Db;

  void SetUp() override {
    Db.Exec(
        "CREATE TABLE customer (CustNo INTEGER PRIMARY KEY, Company VARCHAR(30), "
        "City VARCHAR(15))");
    Db.Insert("customer", {{1, "Buceo Ñandú", "Vigo"},
                           {2, "Velero Azul", "Cádiz"},
                           {3, "Corales del Sur", Variant::Null()}});
    Db.Exec(
        "CREATE TABLE orders (OrderNo INTEGER PRIMARY KEY, CustNo INTEGER, ShipVIA VARCHAR(7), "
        "Amount NUMERIC(12,2), SaleDate DATE)");
    Db.Exec("CREATE INDEX ByShip ON orders (ShipVIA)");
    std::vector<std::vector<Variant>> Rows;
    const char* Ships[] = {"DHL", "SEUR", "UPS", nullptr, "MRW"};
    for (int I = 1; I <= kOrders; ++I)
      Rows.push_back(
          {I, 1 + I % 3, Ships[I % 5] ? Variant(Ships[I % 5]) : Variant::Null(), I * 1.25,
           "2024-01-" + std::string(I % 28 < 9 ? "0" : "") + std::to_string(I % 28 + 1)});
    Db.Insert("orders", Rows);
  }

  static TDbCursor& CursorOf(TDataSet& DS) { return *static_cast<TDbCursor*>(DS.Cursor()); }
};

TEST(DeclaredTypes, MapToFieldTypesAndBack) {
  const struct {
    const char* Declared;
    TFieldType Type;
    int Size;
  } Cases[] = {
      {"VARCHAR(30)", ftString, 30},
      {"character varying(12)", ftString, 12},
      {"CHAR(3)", ftString, 3},
      {"TEXT", ftMemo, 0},
      {"varchar", ftMemo, 0},
      {"SMALLINT", ftSmallint, 0},
      {"INTEGER", ftInteger, 0},
      {"bigint", ftInteger, 0},
      {"INT8", ftInteger, 0},
      {"NUMERIC(12,2)", ftCurrency, 0},
      {"numeric(19, 4)", ftCurrency, 0},
      {"MONEY", ftCurrency, 0},
      {"NUMERIC(9)", ftInteger, 0},
      {"DECIMAL(15,0)", ftFloat, 0},
      {"NUMERIC(10,3)", ftBCD, 3},
      {"NUMERIC", ftFloat, 0},
      {"REAL", ftFloat, 0},
      {"DOUBLE PRECISION", ftFloat, 0},
      {"float8", ftFloat, 0},
      {"BOOLEAN", ftBoolean, 0},
      {"DATE", ftDate, 0},
      {"TIME", ftTime, 0},
      {"TIMESTAMP", ftDateTime, 0},
      {"timestamp with time zone", ftDateTime, 0},
      {"timestamptz", ftDateTime, 0},
      {"DATETIME", ftDateTime, 0},
      {"BLOB", ftBlob, 0},
      {"bytea", ftBlob, 0},
      {"", ftMemo, 0},
      {"POINT", ftMemo, 0},
      {"INTERVAL", ftMemo, 0},
      {"json", ftMemo, 0},
  };
  for (const auto& C : Cases) {
    int Size = -1;
    EXPECT_EQ(C.Type, FieldTypeOfDeclared(C.Declared, Size)) << C.Declared;
    EXPECT_EQ(C.Size, Size) << C.Declared;
  }
  for (TFieldType T : {ftString, ftSmallint, ftInteger, ftFloat, ftCurrency, ftBCD, ftBoolean,
                       ftDate, ftTime, ftDateTime, ftMemo, ftBlob}) {
    int Size = 0;
    EXPECT_EQ(T, FieldTypeOfDeclared(SqlTypeName(T, T == ftBCD ? 3 : 20), Size))
        << FieldTypeName(T);
  }
}

TEST(DeclaredTypes, IsoDatesBothWays) {
  double D = 0;
  ASSERT_TRUE(ParseIsoDate("2024-02-29 13:45:30.250", ftDateTime, D));
  EXPECT_EQ("2024-02-29 13:45:30.250", IsoDateText(D, ftDateTime));
  EXPECT_EQ("2024-02-29", IsoDateText(D, ftDate));
  EXPECT_EQ("13:45:30.250", IsoDateText(D, ftTime));
  ASSERT_TRUE(ParseIsoDate("2024-02-29T13:45Z", ftDate, D));
  EXPECT_EQ("2024-02-29 00:00:00", IsoDateText(D, ftDateTime)) << "a date keeps the day";
  ASSERT_TRUE(ParseIsoDate("07:05", ftTime, D));
  EXPECT_EQ("07:05:00", IsoDateText(D, ftTime));
  ASSERT_TRUE(ParseIsoDate("1899-12-29 06:00:00", ftDateTime, D));
  EXPECT_EQ("1899-12-29 06:00:00", IsoDateText(D, ftDateTime));
  for (const char* Bad : {"2024-02-30", "24-01-01", "2024-01-01 25:00", "mañana", "", "07:05"})
    EXPECT_FALSE(ParseIsoDate(Bad, ftDateTime, D)) << Bad;
}

TEST(QualifiedNames, PartsAndQuotes) {
  auto Parts = [](const std::string& N) {
    std::string S;
    for (const TNamePart& P : SplitQualifiedName(N))
      S += (S.empty() ? "" : "|") + P.Text + (P.Quoted ? "*" : "");
    return S;
  };
  EXPECT_EQ("orders", Parts("orders"));
  EXPECT_EQ("sales|orders", Parts(" sales.orders "));
  EXPECT_EQ("Orders*", Parts("\"Orders\""));
  EXPECT_EQ("my schema*|a\"b*", Parts("\"my schema\".\"a\"\"b\""));
  EXPECT_EQ("x.y*", Parts("\"x.y\""));
  for (const char* Bad : {"", "a..b", "\"open", "a.", "\"\"", "\"a\"b"})
    EXPECT_THROW(SplitQualifiedName(Bad), EDatabaseError) << Bad;
}

TEST_F(SqliteTable, FieldsAndIndexesComeFromTheCatalog) {
  Db.Exec("CREATE UNIQUE INDEX ByCompany ON customer (Company)");
  Db.Exec(
      "CREATE TABLE items (OrderNo INTEGER NOT NULL, ItemNo INTEGER NOT NULL, Qty SMALLINT, "
      "PRIMARY KEY (OrderNo, ItemNo)) WITHOUT ROWID");
  auto C = OpenTable(Db.Name(), "CUSTOMER");
  ASSERT_EQ(3, C->FieldCount());
  EXPECT_EQ(ftInteger, C->FieldByName("custno")->DataType());
  EXPECT_EQ(ftString, C->FieldByName("Company")->DataType());
  EXPECT_EQ(30, C->FieldByName("Company")->Size());
  TStringList Names;
  C->GetIndexNames(Names);
  ASSERT_EQ(2, C->IndexDefs().Count());
  EXPECT_EQ("", C->IndexDefs()[0].Name);
  EXPECT_EQ("CustNo", C->IndexDefs()[0].Fields);
  EXPECT_EQ(ixPrimary | ixUnique, C->IndexDefs()[0].Options);
  EXPECT_EQ("ByCompany", C->IndexDefs()[1].Name);
  EXPECT_EQ(ixUnique, C->IndexDefs()[1].Options);
  EXPECT_EQ(2, Names.Count());
  auto I = OpenTable(Db.Name(), "main.\"items\"");
  EXPECT_EQ("OrderNo;ItemNo", I->IndexDefs()[0].Fields);
  EXPECT_EQ(ftSmallint, I->FieldByName("Qty")->DataType());
  TTable Closed;
  Closed.SetDatabaseName(Db.Name());
  Closed.SetTableName("orders");
  Closed.GetIndexNames(Names);
  EXPECT_EQ(2, Names.Count()) << "read from the catalog without opening";
}

TEST_F(SqliteTable, WindowsAreReadAsNeededAndFewAreKept) {
  auto T = OpenTable(Db.Name(), "orders");
  TDbCursor& C = CursorOf(*T);
  EXPECT_EQ(1, C.StatementsRun()) << "the first screen is one statement";
  EXPECT_EQ("1", T->FieldByName("OrderNo")->AsString());
  for (int I = 0; I < 50; ++I) T->FieldByName("ShipVIA")->DisplayTextAt(T->RowAt(I));
  EXPECT_EQ(1, C.StatementsRun());
  T->Last();
  EXPECT_EQ(kOrders, T->RecNo());
  EXPECT_EQ(std::to_string(kOrders), T->FieldByName("OrderNo")->AsString());
  EXPECT_LE(C.StatementsRun(), 3) << "a count and the last window";
  // Every record in order, forward and back, with the rows held bounded.
  std::vector<int> Seen;
  for (T->First(); !T->Eof(); T->Next()) Seen.push_back(T->FieldByName("OrderNo")->AsInteger());
  ASSERT_EQ(static_cast<size_t>(kOrders), Seen.size());
  for (int I = 0; I < kOrders; ++I) ASSERT_EQ(I + 1, Seen[I]);
  EXPECT_LE(C.RowsHeld(), TDbCursor::CachedWindows * TDbCursor::WindowRows + 256);
  int Expected = kOrders;
  for (T->Last(); !T->Bof(); T->Prior())
    ASSERT_EQ(Expected--, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_EQ(0, Expected);
  // Jumps into the middle, either way, land on the right records.
  for (int Index : {2500, 4321, 129, 3700, 0, 4999}) {
    EXPECT_EQ(std::to_string(Index + 1), T->FieldByName("OrderNo")->DisplayTextAt(T->RowAt(Index)));
  }
  T->SetRecNo(3001);
  EXPECT_EQ(3001, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_EQ(-1000, T->MoveBy(-1000));
  EXPECT_EQ(2001, T->RecNo());
  EXPECT_EQ(kOrders - 2001, T->MoveBy(10000));
  EXPECT_TRUE(T->Eof());
  EXPECT_THROW(T->RowAt(kOrders), std::out_of_range);
}

TEST_F(SqliteTable, BookmarksStandForKeysAndOutliveTheirWindows) {
  auto T = OpenTable(Db.Name(), "orders");
  T->SetRecNo(10);
  const TBookmark Mark = T->GetBookmark();
  T->Last();
  for (int I = 0; I < kOrders; I += 100) T->RowAt(I);  // every window read, the first evicted
  EXPECT_TRUE(T->BookmarkValid(Mark));
  EXPECT_EQ("10", T->FieldByName("OrderNo")->DisplayTextAt(Mark));
  T->GotoBookmark(Mark);
  EXPECT_EQ(10, T->RecNo());
  EXPECT_EQ(Mark, T->GetBookmark()) << "the same key, the same bookmark";
  T->SetFilter("OrderNo > 100");
  T->SetFiltered(true);
  EXPECT_FALSE(T->BookmarkValid(Mark));
  EXPECT_THROW(T->GotoBookmark(Mark), EDatabaseError);
  EXPECT_EQ("10", T->FieldByName("OrderNo")->DisplayTextAt(Mark)) << "its values are still read";
  EXPECT_EQ(kOrders - 100, T->RecordCount());
}

TEST_F(SqliteTable, IndexOrderWithNullsAndTiesJoinsWindowsExactly) {
  auto T = OpenTable(Db.Name(), "orders", "ShipVIA");
  std::vector<std::string> Forward;
  for (T->First(); !T->Eof(); T->Next())
    Forward.push_back(T->FieldByName("ShipVIA")->AsString() + "/" +
                      T->FieldByName("OrderNo")->AsString());
  ASSERT_EQ(static_cast<size_t>(kOrders), Forward.size());
  std::vector<std::string> Backward;
  for (T->Last(); !T->Bof(); T->Prior())
    Backward.insert(Backward.begin(), T->FieldByName("ShipVIA")->AsString() + "/" +
                                          T->FieldByName("OrderNo")->AsString());
  EXPECT_EQ(Forward, Backward);
  // Nulls first, then the texts in byte order, equal values in key order.
  EXPECT_EQ("/3", Forward[0]);
  EXPECT_EQ("/8", Forward[1]);
  EXPECT_EQ("DHL/5", Forward[kOrders / 5]);
  EXPECT_EQ("UPS/4997", Forward.back());
  T->SetIndexFieldNames("ShipVIA;Amount");
  EXPECT_TRUE(T->Locate("OrderNo", 2503, 0));
  EXPECT_EQ(2503, T->FieldByName("OrderNo")->AsInteger());
  const int At = T->RecNo();
  T->Next();
  EXPECT_EQ(At + 1, T->RecNo());
  EXPECT_EQ(2508, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_THROW(T->SetIndexFieldNames("Nope"), EDatabaseError);
}

TEST_F(SqliteTable, FindAndLocateRunInTheDatabase) {
  auto T = OpenTable(Db.Name(), "orders");
  T->SetFilterOptions(foCaseInsensitive);
  ASSERT_TRUE(T->FindFirst("ShipVIA = 'dhl' and OrderNo > 4000"));
  EXPECT_EQ(4005, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_EQ(4005, T->RecNo());
  ASSERT_TRUE(T->FindNext("ShipVIA = 'dhl' and OrderNo > 4000"));
  EXPECT_EQ(4010, T->FieldByName("OrderNo")->AsInteger());
  ASSERT_TRUE(T->FindPrior("ShipVIA = 'mrw'"));
  EXPECT_EQ(4009, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_FALSE(T->FindNext("OrderNo > 99999"));
  EXPECT_EQ(4009, T->RecNo()) << "nothing found: the record stays";
  EXPECT_TRUE(T->Locate("ShipVIA;SaleDate", Pair("seu", EncodeDate(2024, 1, 2)),
                        loPartialKey | loCaseInsensitive));
  EXPECT_EQ(1, T->FieldByName("OrderNo")->AsInteger());
  EXPECT_EQ(Variant(1.25 * 7).AsDouble(), T->Lookup("OrderNo", 7, "Amount").AsDouble());
  EXPECT_TRUE(T->Lookup("OrderNo", 0, "Amount").IsNull());
}

TEST_F(SqliteTable, MasterDetailShowsTheMastersRecords) {
  auto Master = OpenTable(Db.Name(), "customer");
  TDataSource Source;
  Source.SetDataSet(Master.get());
  auto Detail = std::make_unique<TTable>();
  Detail->SetDatabaseName(Db.Name());
  Detail->SetTableName("orders");
  Detail->SetIndexFieldNames("CustNo");
  Detail->SetMasterSource(&Source);
  Detail->SetMasterFields("CustNo");
  Detail->Open();
  EXPECT_EQ(kOrders / 3, Detail->RecordCount());
  EXPECT_EQ("3,6,9", Texts(*Detail, "OrderNo").substr(0, 5));
  Master->Next();
  EXPECT_EQ("1,4,7", Texts(*Detail, "OrderNo").substr(0, 5));
  Detail->SetFilter("ShipVIA = 'UPS'");
  Detail->SetFiltered(true);
  EXPECT_EQ("7,22,37", Texts(*Detail, "OrderNo").substr(0, 7));
  // Cutting the link shows every record; a locate beyond the link finds any.
  Detail->SetMasterSource(nullptr);
  EXPECT_EQ(kOrders / 5, Detail->RecordCount());
  Detail->SetMasterSource(&Source);
  const TBookmark Row = Detail->LocateUnlinked("OrderNo", 12, 0);
  ASSERT_NE(NoBookmark, Row);
  EXPECT_EQ("1", Detail->FieldByName("CustNo")->DisplayTextAt(Row));
  EXPECT_EQ(NoBookmark, Detail->LocateUnlinked("OrderNo", 13, 0)) << "the filter still holds";
  Master->Close();
  EXPECT_EQ(kOrders / 5, Detail->RecordCount()) << "a closed master restricts nothing";
}

TEST_F(SqliteTable, LookupFieldsAreReadWithTheWindow) {
  auto Customers = OpenTable(Db.Name(), "customer");
  TTable Orders;
  Orders.SetDatabaseName(Db.Name());
  Orders.SetTableName("orders");
  for (const char* F : {"OrderNo", "CustNo", "ShipVIA"})
    Orders.FieldDefs().Add(F, F[0] == 'S' ? ftString : ftInteger, F[0] == 'S' ? 7 : 0);
  Orders.AddField<TIntegerField>("OrderNo");
  Orders.AddField<TIntegerField>("CustNo");
  Orders.AddLookupField("Company", ftString, Customers.get(), "CustNo", "CustNo", "Company", 30);
  Orders.AddLookupField("City", ftString, Customers.get(), "CustNo", "CustNo", "City", 15);
  auto* Twice = Orders.AddField<TIntegerField>("Twice");
  Twice->SetFieldKind(fkCalculated);
  Twice->OnCalcValue = [](const TDataSet& DS, TBookmark Row) {
    return Variant(DS.FieldByName("OrderNo")->ValueAt(Row).AsInteger() * 2);
  };
  Orders.Open();
  TDbCursor& C = CursorOf(Orders);
  const int64_t Before = C.StatementsRun();
  std::string Shown;
  for (int I = 0; I < 40; ++I)
    Shown += Orders.FieldByName("Company")->DisplayTextAt(Orders.RowAt(I)).substr(0, 1);
  EXPECT_EQ("VCBVCBVCBVCBVCBVCBVCBVCBVCBVCBVCBVCBVCBV", Shown);
  EXPECT_EQ(Before, C.StatementsRun()) << "no statement per row";
  EXPECT_EQ("Cádiz", Orders.FieldByName("City")->AsString());
  EXPECT_EQ(2, Orders.FieldByName("Twice")->AsInteger());
  Orders.SetFilter("Company = 'corales*' and City = NULL");
  Orders.SetFilterOptions(foCaseInsensitive);
  Orders.SetFiltered(true);
  EXPECT_EQ(kOrders / 3 + 1, Orders.RecordCount());
  EXPECT_FALSE(Orders.Locate("Company", "Buceo Ñandú", 0));
  Orders.SetFiltered(false);
  EXPECT_TRUE(Orders.Locate("Company", "Buceo Ñandú", 0));
  EXPECT_EQ(3, Orders.FieldByName("OrderNo")->AsInteger());
  try {
    Orders.SetFilter("Twice > 4");
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(
        "El campo calculado 'Twice' no se puede consultar en la base de datos '" + Db.Path() + "'",
        E.Message());
  }
  EXPECT_EQ("Company = 'corales*' and City = NULL", Orders.Filter());
}

TEST_F(SqliteTable, LookupsIntoATableOfTheDatabaseFromATableFile) {
  TMemDataSet Local;
  Local.FieldDefs().Add("CustNo", ftInteger);
  Local.CreateDataSet();
  for (int N : {2, 3, 9}) Local.AppendRecord({N});
  auto Customers = OpenTable(Db.Name(), "customer");
  Local.Close();
  Local.AddField<TIntegerField>("CustNo");
  Local.AddLookupField("Company", ftString, Customers.get(), "CustNo", "CustNo", "Company", 30);
  Local.Open();
  EXPECT_EQ("Velero Azul,Corales del Sur,", Texts(Local, "Company"));
}

// SQLite's whole numbers have 64 bits: they are read, found and compared whole, and a copy into
// a table file, whose whole numbers have 32, refuses them rather than cutting them.
TEST_F(SqliteTable, WholeNumbersBeyond32Bits) {
  Db.Exec("CREATE TABLE big (Id BIGINT PRIMARY KEY, N INTEGER)");
  Db.Insert("big", {{int64_t{5000000000}, 1}, {int64_t{-5000000001}, 2}, {7, 3}});
  auto T = OpenTable(Db.Name(), "big");
  EXPECT_EQ("-5000000001,7,5000000000", Texts(*T, "Id"));
  EXPECT_TRUE(T->Locate("Id", int64_t{5000000000}, 0));
  EXPECT_EQ(1, T->FieldByName("N")->AsInteger());
  EXPECT_FALSE(T->Locate("Id", 705032704, 0)) << "the low 32 bits of 5000000000";
  T->SetFilter("Id > 4294967296");
  T->SetFiltered(true);
  EXPECT_EQ("5000000000", Texts(*T, "Id"));
  T->SetFiltered(false);
  const std::string Dir = std::filesystem::path(Db.Path()).parent_path().string();
  const std::string Name = std::filesystem::path(Db.Path()).stem().string() + "-big.db";
  TTable File;
  File.SetDatabaseName(Dir);
  File.SetTableName(Name);
  try {
    File.BatchMove(T.get(), batCopy);
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(
        "El valor -5000000001 del campo 'Id' no cabe en un campo entero de un archivo de "
        "tabla",
        E.Message());
  }
  EXPECT_FALSE(std::filesystem::exists(Dir + "/" + Name));
}

TEST_F(SqliteTable, ErrorsNameTheTableAndTheDatabase) {
  auto Message = [](auto&& Action) {
    try {
      Action();
    } catch (const EDatabaseError& E) {
      return E.Message();
    }
    return std::string("(nada)");
  };
  EXPECT_EQ("No se encuentra la tabla 'pedidos' en la base de datos '" + Db.Path() + "'",
            Message([&] { OpenTable(Db.Name(), "pedidos"); }));
  EXPECT_EQ("No se encuentra la tabla 'otra.orders' en la base de datos '" + Db.Path() + "'",
            Message([&] { OpenTable(Db.Name(), "otra.orders"); }));
  EXPECT_EQ("No existe la base de datos SQLite '/nonexistent-kv/x.sqlite'",
            Message([&] { OpenTable("/nonexistent-kv/x.sqlite", "orders"); }));
  const std::string NotDb = Db.Path() + ".db3";
  { std::ofstream(NotDb) << "not a database, only text that is long enough to be a header....."; }
  EXPECT_EQ(0u, Message([&] {
                  OpenTable(NotDb, "orders");
                }).find("El archivo '" + NotDb + "' no es una base de datos SQLite"));
  std::filesystem::remove(NotDb);
  EXPECT_EQ("Campo 'Nope' no encontrado en la tabla orders",
            Message([&] { OpenTable(Db.Name(), "orders", "Nope"); }));
  // An open that fails leaves the table closed, over a database as over a table file.
  TMemDataSet Mem;
  Mem.FieldDefs().Add("A", ftInteger);
  Mem.CreateDataSet();
  const std::string Dir = std::filesystem::path(Db.Path()).parent_path().string();
  const std::string File = std::filesystem::path(Db.Path()).stem().string() + "-a.db";
  TTable Copy;
  Copy.SetDatabaseName(Dir);
  Copy.SetTableName(File);
  Copy.BatchMove(&Mem, batCopy);
  for (const std::string& Database : {Db.Name(), Dir}) {
    TTable T;
    T.SetDatabaseName(Database);
    T.SetTableName(Database == Dir ? File : "orders");
    T.SetIndexFieldNames("Nope");
    EXPECT_THROW(T.Open(), EDatabaseError);
    EXPECT_FALSE(T.Active()) << Database;
    T.SetIndexFieldNames("");
    T.Open();
    EXPECT_TRUE(T.Active());
  }
  std::filesystem::remove(Dir + "/" + File);
  EXPECT_NE(std::string::npos, Message([&] {
                                 ConnectDatabase(ResolveDatabase("postgresql://kv:secreto@h/db"));
                               }).find("'postgresql://kv@h/db'"));
}

}  // namespace
