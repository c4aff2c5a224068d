// TTable over a PostgreSQL table of the test server: fields and indexes from the catalog, the
// server's rules for the letter case of names, windows in the platform's order (texts by their
// bytes, Nulls first), filters and finds with the platform's case mapping, master-detail,
// hostile names and values, and errors that name the database without its password.
#include <gtest/gtest.h>

#include "DbCursor.h"
#include "DbTypes.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace pgtest;

namespace {

constexpr int kOrders = 1000;

std::string MessageOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const EDatabaseError& E) {
    return E.Message();
  }
  return "(nada)";
}

class PgTable : public ::testing::Test {
 protected:
  TScratchDatabase Db;

  void SetUp() override {
    Db.Admin().Exec("SELECT 1");
    TPgConnection C(Db.Uri());
    C.Exec(
        "CREATE TABLE customer (custno integer PRIMARY KEY, company varchar(30), city "
        "varchar(15));"
        "INSERT INTO customer VALUES (1, 'Buceo Ñandú', 'Vigo'), (2, 'Velero Azul', 'Cádiz'), "
        "(3, 'Corales del Sur', NULL);"
        "CREATE TABLE orders (orderno integer PRIMARY KEY, custno integer, shipvia varchar(7), "
        "amount numeric(12,2), saledate date, big bigint);"
        "CREATE INDEX byship ON orders (shipvia);"
        "INSERT INTO orders SELECT i, 1 + i % 3, (ARRAY['DHL','SEUR','UPS',NULL,'MRW'])[i % 5 + "
        "1], i * 1.25, DATE '2024-01-01' + i % 28, i::bigint * 10000000000 FROM "
        "generate_series(1, 1000) i;"
        "CREATE TABLE \"Mixed\" (\"Id\" integer PRIMARY KEY, \"Name\" text);"
        "CREATE TABLE mixed (id integer PRIMARY KEY, name text);"
        "INSERT INTO \"Mixed\" VALUES (1, 'upper');"
        "INSERT INTO mixed VALUES (1, 'lower');"
        "CREATE SCHEMA sales; CREATE TABLE sales.orders (n smallint, t text, b boolean, "
        "ts timestamp(3), tm time, blob bytea, tags integer[]);"
        "INSERT INTO sales.orders VALUES (2, 'dos', true, '2024-02-29 13:45:30.250', "
        "'07:05', '\\x00ff', '{1,2}'), (1, 'uno', false, NULL, NULL, NULL, NULL), "
        "(1, 'uno', NULL, NULL, NULL, NULL, NULL);"
        "CREATE VIEW big_orders AS SELECT orderno, amount FROM orders WHERE amount > 1000");
  }

  static TDbCursor& CursorOf(TDataSet& DS) { return *static_cast<TDbCursor*>(DS.Cursor()); }
};

TEST_F(PgTable, FieldsIndexesAndNamesComeFromTheCatalog) {
  auto O = OpenTable(Db.Uri(), "ORDERS");
  EXPECT_EQ(ftInteger, O->FieldByName("OrderNo")->DataType());
  EXPECT_EQ(ftString, O->FieldByName("shipvia")->DataType());
  EXPECT_EQ(7, O->FieldByName("shipvia")->Size());
  EXPECT_EQ(ftCurrency, O->FieldByName("amount")->DataType());
  EXPECT_EQ(ftDate, O->FieldByName("saledate")->DataType());
  ASSERT_EQ(2, O->IndexDefs().Count());
  EXPECT_EQ("orderno", O->IndexDefs()[0].Fields);
  EXPECT_TRUE(O->IndexDefs()[0].Options & ixPrimary);
  EXPECT_EQ("byship", O->IndexDefs()[1].Name);
  O->SetRecNo(500);
  EXPECT_EQ(5000000000000.0, O->FieldByName("big")->AsFloat()) << "bigint beyond 32 bits";
  // Unquoted names fold to lower case, quoted ones keep theirs.
  EXPECT_EQ("lower", OpenTable(Db.Uri(), "MIXED")->FieldByName("name")->AsString());
  EXPECT_EQ("upper", OpenTable(Db.Uri(), "\"Mixed\"")->FieldByName("Name")->AsString());
  // A schema, a table without key (rows kept apart by their place), types of every kind.
  auto S = OpenTable(Db.Uri(), "sales.orders", "n");
  EXPECT_EQ(ftSmallint, S->FieldByName("n")->DataType());
  EXPECT_EQ(ftMemo, S->FieldByName("t")->DataType());
  EXPECT_EQ(ftBoolean, S->FieldByName("b")->DataType());
  EXPECT_EQ(ftDateTime, S->FieldByName("ts")->DataType());
  EXPECT_EQ(ftTime, S->FieldByName("tm")->DataType());
  EXPECT_EQ(ftBlob, S->FieldByName("blob")->DataType());
  EXPECT_EQ(ftMemo, S->FieldByName("tags")->DataType());
  EXPECT_EQ(3, S->RecordCount());
  S->Last();
  EXPECT_EQ(2, S->FieldByName("n")->AsInteger());
  EXPECT_TRUE(S->FieldByName("b")->AsBoolean());
  EXPECT_EQ("2024-02-29 13:45:30.250",
            IsoDateText(S->FieldByName("ts")->AsDateTime().Val, ftDateTime));
  EXPECT_EQ(std::string("\0\xff", 2), S->FieldByName("blob")->AsString());
  EXPECT_EQ("{1,2}", S->FieldByName("tags")->AsString());
  S->First();
  S->Next();
  EXPECT_EQ(2, S->RecNo()) << "equal rows of a table without key are told apart";
  auto V = OpenTable(Db.Uri(), "big_orders");
  EXPECT_EQ(kOrders - 800, V->RecordCount());
}

TEST_F(PgTable, WindowsInThePlatformsOrder) {
  TPgConnection(Db.Uri()).Exec(
      "INSERT INTO orders (orderno, shipvia) VALUES (2001, 'dhl'), (2002, 'Ärger'), "
      "(2003, 'zz'), (2004, '')");
  auto T = OpenTable(Db.Uri(), "orders", "shipvia");
  TDbCursor& C = CursorOf(*T);
  std::vector<std::string> Forward;
  for (T->First(); !T->Eof(); T->Next())
    Forward.push_back(T->FieldByName("shipvia")->AsString() + "/" +
                      T->FieldByName("orderno")->AsString());
  ASSERT_EQ(static_cast<size_t>(kOrders + 4), Forward.size());
  EXPECT_LE(C.RowsHeld(), TDbCursor::CachedWindows * TDbCursor::WindowRows + 256);
  std::vector<std::string> Backward;
  for (T->Last(); !T->Bof(); T->Prior())
    Backward.insert(Backward.begin(), T->FieldByName("shipvia")->AsString() + "/" +
                                          T->FieldByName("orderno")->AsString());
  EXPECT_EQ(Forward, Backward);
  EXPECT_EQ("/3", Forward[0]) << "Nulls first";
  // Byte order: capitals, then small letters, then letters beyond ASCII.
  EXPECT_EQ("zz/2003", Forward[Forward.size() - 2]);
  EXPECT_EQ("Ärger/2002", Forward.back());
  EXPECT_EQ("dhl/2001", Forward[Forward.size() - 3]);
  for (int Index : {700, 12, 999})
    EXPECT_EQ(Forward[static_cast<size_t>(Index)].substr(
                  Forward[static_cast<size_t>(Index)].find('/') + 1),
              T->FieldByName("orderno")->DisplayTextAt(T->RowAt(Index)));
  T->SetRecNo(900);
  const TBookmark Mark = T->GetBookmark();
  const std::string At = T->FieldByName("orderno")->AsString();
  T->First();
  T->GotoBookmark(Mark);
  EXPECT_EQ(At, T->FieldByName("orderno")->AsString());
  EXPECT_EQ(900, T->RecNo());
}

TEST_F(PgTable, FiltersAndFindsMeanWhatTheyMeanOnTableFiles) {
  TPgConnection(Db.Uri()).Exec(
      "INSERT INTO customer VALUES (4, 'STRASSE', 'Köln'), (5, 'straße', 'Wien'), "
      "(6, 'ΣΟΦΟΣ', 'Atenas'), (7, '', 'Nada'), (8, 'GROẞ', 'Bonn')");
  auto C = OpenTable(Db.Uri(), "customer");
  C->SetFilterOptions(foCaseInsensitive);
  C->SetFilter("company = 'groß'");
  C->SetFiltered(true);
  EXPECT_EQ("8", Texts(*C, "custno")) << "capital sharp s, as the platform lowers it";
  C->SetFilter("company = 'straße'");
  EXPECT_EQ("5", Texts(*C, "custno")) << "ß is not ss";
  C->SetFilter("company = 'σοφος'");
  EXPECT_EQ("6", Texts(*C, "custno")) << "final sigma";
  C->SetFilter("company = 'buceo*'");
  EXPECT_EQ("1", Texts(*C, "custno"));
  C->SetFilter("company = null");
  EXPECT_EQ("7", Texts(*C, "custno")) << "an empty text is Null";
  C->SetFilterOptions(0);
  C->SetFilter("company = 'STRASSE'");
  EXPECT_EQ("4", Texts(*C, "custno"));
  C->SetFilter("city > 'V'");
  EXPECT_EQ("1,5", Texts(*C, "custno"));
  C->SetFiltered(false);
  ASSERT_TRUE(C->FindFirst("city = 'Cádiz'"));
  EXPECT_EQ(2, C->FieldByName("custno")->AsInteger());
  EXPECT_TRUE(C->Locate("company", "vel", loPartialKey | loCaseInsensitive));
  EXPECT_EQ(2, C->FieldByName("custno")->AsInteger());
  EXPECT_EQ("Vigo", C->Lookup("custno", 1, "city").AsString());
}

TEST_F(PgTable, MasterDetailAndLookupsAreAnsweredByTheServer) {
  auto Master = OpenTable(Db.Uri(), "customer");
  TDataSource Source;
  Source.SetDataSet(Master.get());
  TTable Detail;
  Detail.SetDatabaseName(Db.Uri());
  Detail.SetTableName("orders");
  Detail.SetIndexFieldNames("custno");
  Detail.SetMasterSource(&Source);
  Detail.SetMasterFields("custno");
  Detail.Open();
  EXPECT_EQ(kOrders / 3, Detail.RecordCount());
  EXPECT_EQ("3,6,9", Texts(Detail, "orderno").substr(0, 5));
  Master->Next();
  EXPECT_EQ("1,4,7", Texts(Detail, "orderno").substr(0, 5));
  Detail.SetFilter("shipvia = 'UPS'");
  Detail.SetFiltered(true);
  EXPECT_EQ("7,22,37", Texts(Detail, "orderno").substr(0, 7));
}

TEST_F(PgTable, HostileNamesAndValuesStayNamesAndValues) {
  TPgConnection C(Db.Uri());
  C.Exec(
      "CREATE TABLE \"x\"\"; DROP TABLE orders; --\" (\"a'b\" integer PRIMARY KEY, "
      "\"c\"\"d\" text)");
  TPgParams P;
  C.Exec("INSERT INTO \"x\"\"; DROP TABLE orders; --\" VALUES (1, " +
             P.AddText("1); DROP TABLE orders; --") + "), (2, 'a\\b%_')",
         P);
  auto T = OpenTable(Db.Uri(), "\"x\"\"; DROP TABLE orders; --\"");
  EXPECT_EQ(2, T->RecordCount());
  EXPECT_EQ("1); DROP TABLE orders; --", T->FieldByName("c\"d")->AsString());
  T->SetFilter("[c\"d] = '1); DROP TABLE orders; --'");
  T->SetFiltered(true);
  EXPECT_EQ("1", Texts(*T, "a'b"));
  T->SetFilter("[c\"d] = 'a\\b%_'");
  EXPECT_EQ("2", Texts(*T, "a'b")) << "backslash, percent and underscore are plain characters";
  EXPECT_TRUE(T->Locate("c\"d", "a\\b%", loPartialKey));
  EXPECT_EQ(kOrders, OpenTable(Db.Uri(), "orders")->RecordCount());
}

TEST_F(PgTable, ErrorsNameTheDatabaseWithoutItsPassword) {
  const std::string Uri = Db.Uri();
  EXPECT_EQ("No se encuentra la tabla 'pedidos' en la base de datos '" + Uri + "'",
            MessageOf([&] { OpenTable(Uri, "pedidos"); }));
  EXPECT_EQ("No se encuentra la tabla 'otra.orders' en la base de datos '" + Uri + "'",
            MessageOf([&] { OpenTable(Uri, "otra.orders"); }));
  EXPECT_EQ("No se encuentra la tabla '\"Orders\"' en la base de datos '" + Uri + "'",
            MessageOf([&] { OpenTable(Uri, "\"Orders\""); }))
      << "a quoted name is matched exactly";
  const std::string WithPassword =
      "postgresql://kv_password:mal-secreto@/" + Db.Name() + "?host=" + SocketFolder();
  const std::string M = MessageOf([&] { OpenTable(WithPassword, "orders"); });
  EXPECT_EQ(std::string::npos, M.find("mal-secreto")) << M;
  EXPECT_NE(std::string::npos, M.find(Db.Name())) << M;
}

}  // namespace

namespace {

// The session of a dataset ended by the server (an administrator, a restart): the statement that
// finds it so fails with a message naming the database, the next one reconnects, and nothing
// the dataset showed is lost.
TEST_F(PgTable, ASessionEndedByTheServerIsOpenedAgain) {
  auto T = OpenTable(Db.Uri(), "orders");
  EXPECT_EQ(kOrders, T->RecordCount());
  Db.Admin().Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = " +
                  PgStringLiteral(Db.Name()) + " AND pid <> pg_backend_pid()");
  T->SetFilter("shipvia = 'UPS'");
  const std::string M = MessageOf([&] { T->SetFiltered(true); });
  if (M != "(nada)") {
    EXPECT_NE(std::string::npos, M.find(Db.Name())) << M;
    T->SetFiltered(false);
    T->SetFilter("shipvia = 'UPS'");
    T->SetFiltered(true);
  }
  EXPECT_EQ(kOrders / 5, T->RecordCount());
  EXPECT_EQ("UPS", T->FieldByName("shipvia")->AsString());
}

}  // namespace
