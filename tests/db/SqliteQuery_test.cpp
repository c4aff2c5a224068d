// TQuery over a SQLite database: the local SQL (the engine's own statements among them) emitted
// for the database from its tree and read a window at a time; grouped and distinct results;
// hostile names and values; ALTER TABLE; batch moves into the database; a statement stopped by
// the user or by another thread.
#include <gtest/gtest.h>

#include <thread>

#include "DbConnection.h"
#include "DbCursor.h"
#include "LocalSQL.h"
#include "Progress.h"
#include "db/SqliteTestDb.h"

using namespace kv;

namespace {

class SqliteQuery : public ::testing::Test {
 protected:
  TSqliteFile Db;

  void SetUp() override {
    Db.Exec("CREATE TABLE customer (CustNo INTEGER PRIMARY KEY, Company VARCHAR(30))");
    Db.Insert("customer", {{1, "Buceo Ñandú"}, {2, "Velero Azul"}, {3, "ÁNGEL Náutica"}});
    Db.Exec(
        "CREATE TABLE orders (OrderNo INTEGER PRIMARY KEY, CustNo INTEGER, ShipVIA VARCHAR(7), "
        "SaleDate TIMESTAMP, Paid BOOLEAN)");
    std::vector<std::vector<Variant>> Rows;
    for (int I = 1; I <= 600; ++I)
      Rows.push_back({I, 1 + I % 3, I % 4 ? Variant(I % 2 ? "DHL" : "SEUR") : Variant::Null(),
                      "2024-0" + std::to_string(1 + I % 3) + "-15 10:30:00", I % 2});
    Db.Insert("orders", Rows);
  }

  std::unique_ptr<TQuery> Open(const std::string& Sql) {
    auto Q = std::make_unique<TQuery>();
    Q->SetDatabaseName(Db.Name());
    Q->SQL().Add(Sql);
    Q->Open();
    return Q;
  }
};

TEST_F(SqliteQuery, TheEnginesStatementsRunOnTheDatabase) {
  const struct {
    const char* Sql;
    int Count;
    const char* First;  // OrderNo of the first records
  } Cases[] = {
      {"Select * From \"orders\" Where (lower(\"orders\".\"ShipVIA\") like \"%hl%\")", 300,
       "1,3,5"},
      {"Select * From \"orders\" Where (\"orders\".\"ShipVIA\" like \"SE%\") Order by "
       "\"orders\".\"OrderNo\" DESC",
       150, "598,594,590"},
      {"Select * From \"orders\",\"customer\" Where (lower(\"customer\".\"Company\") like "
       "\"%ángel%\") and (CustNo=\"customer\".\"CustNo\")",
       200, "2,5,8"},
      {"Select * From \"orders\" Where (\"orders\".\"SaleDate\">\"02/01/2024\") Order by "
       "\"orders\".\"SaleDate\" ASC",
       400, "1,4,7"},
      {"Select * From \"orders\" Where (\"orders\".\"ShipVIA\" IS NULL )", 150, "4,8,12"},
      {"Select * From \"orders\" Where (\"orders\".\"Paid\"=true) and OrderNo < 10", 5, "1,3,5"},
      {"select OrderNo, ShipVIA from orders where OrderNo between 10 and 20 order by ShipVIA, "
       "OrderNo desc",
       11, "20,16,12"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Sql);
    auto Q = Open(C.Sql);
    EXPECT_EQ(C.Count, Q->RecordCount());
    EXPECT_EQ(C.First, Texts(*Q, "OrderNo").substr(0, std::string(C.First).size()));
    Q->Last();
    EXPECT_EQ(C.Count, Q->RecNo());
  }
  auto Q = Open(Cases[2].Sql);
  EXPECT_EQ("ÁNGEL Náutica", Q->FieldByName("Company")->AsString());
  EXPECT_EQ(ftDateTime, Q->FieldByName("SaleDate")->DataType());
  EXPECT_EQ(ftBoolean, Q->FieldByName("Paid")->DataType());
  EXPECT_EQ(nullptr, Q->FindField("CustNo_1")) << "Select * keeps the first of a repeated name";
}

TEST_F(SqliteQuery, AResultIsWindowedLikeATable) {
  auto Q = Open("select * from orders where CustNo <> 2 order by ShipVIA desc");
  std::vector<std::string> Seen;
  for (Q->First(); !Q->Eof(); Q->Next())
    Seen.push_back(Q->FieldByName("ShipVIA")->AsString() + Q->FieldByName("OrderNo")->AsString());
  ASSERT_EQ(400u, Seen.size());
  EXPECT_EQ("SEUR2", Seen[0]) << "descending, ties in the table's order";
  EXPECT_EQ("600", Seen.back()) << "Nulls last when descending";
  std::vector<std::string> Back;
  for (Q->Last(); !Q->Bof(); Q->Prior())
    Back.insert(Back.begin(),
                Q->FieldByName("ShipVIA")->AsString() + Q->FieldByName("OrderNo")->AsString());
  EXPECT_EQ(Seen, Back);
  ASSERT_TRUE(Q->Locate("OrderNo", 302, 0));
  const TBookmark Mark = Q->GetBookmark();
  Q->First();
  Q->GotoBookmark(Mark);
  EXPECT_EQ(302, Q->FieldByName("OrderNo")->AsInteger());
  Q->SetFilter("ShipVIA = 'DHL' and OrderNo > 590");
  Q->SetFiltered(true);
  EXPECT_EQ("591,593,597,599", Texts(*Q, "OrderNo"));
}

TEST_F(SqliteQuery, GroupedAndDistinctResultsAreNumberedInTheirOrder) {
  auto G = Open(
      "select CustNo, count(*) as N, max(OrderNo) as Last from orders group by CustNo order by "
      "CustNo desc");
  EXPECT_EQ("3,2,1", Texts(*G, "CustNo"));
  EXPECT_EQ("200,200,200", Texts(*G, "N"));
  EXPECT_EQ(ftInteger, G->FieldByName("N")->DataType());
  ASSERT_TRUE(G->Locate("CustNo", 2, 0));
  EXPECT_EQ(2, G->RecNo());
  G->SetFilter("Last > 598");
  G->SetFiltered(true);
  EXPECT_EQ("3,1", Texts(*G, "CustNo"));
  auto D = Open("select distinct ShipVIA from orders order by ShipVIA");
  EXPECT_EQ(",DHL,SEUR", Texts(*D, "ShipVIA"));
  auto A = Open("select count(*) as Total, upper(min(ShipVIA)) as S from orders");
  EXPECT_EQ("600", Texts(*A, "Total"));
  EXPECT_EQ("DHL", Texts(*A, "S"));
}

TEST_F(SqliteQuery, NamesAreQuotedAndValuesBound) {
  Db.Exec("CREATE TABLE \"we\"\"ird; name\" (\"a b\" VARCHAR(20), \"x\"\"y\" INTEGER)");
  Db.Insert("\"we\"\"ird; name\"", {{"O'Brien", 1}, {"x'); DROP TABLE orders; --", 2}});
  auto T = OpenTable(Db.Name(), "\"we\"\"ird; name\"");
  EXPECT_EQ(2, T->RecordCount());
  T->SetFilter("[a b] = 'x''); DROP TABLE orders; --'");
  T->SetFiltered(true);
  EXPECT_EQ("2", Texts(*T, "x\"y"));
  T->SetFiltered(false);
  EXPECT_TRUE(T->Locate("a b", "O'Brien", 0));
  auto Q = Open("select * from orders where ShipVIA = 'x''); DROP TABLE orders; --'");
  EXPECT_EQ(0, Q->RecordCount());
  EXPECT_EQ("600", Db.Scalar("SELECT count(*) FROM orders"));
}

TEST_F(SqliteQuery, StatementErrorsNameTheTokenOrTheTable) {
  auto Message = [&](const std::string& Sql) {
    try {
      Open(Sql);
    } catch (const EDatabaseError& E) {
      return E.Message();
    }
    return std::string("(nada)");
  };
  EXPECT_EQ("No se encuentra la tabla 'pedidos' en la base de datos '" + Db.Path() + "'",
            Message("select * from pedidos"));
  EXPECT_NE(std::string::npos, Message("select * from orders where").find("posición"));
  EXPECT_NE(std::string::npos, Message("select Nope from orders").find("'Nope'"));
  EXPECT_NE(std::string::npos,
            Message("select * from orders where SaleDate > \"99/99/2024\"").find("fecha"));
}

TEST_F(SqliteQuery, AlterTableDropsColumnsInOneTransaction) {
  TQuery Q;
  Q.SetDatabaseName(Db.Name());
  Q.SQL().Add("ALTER TABLE \"orders\" DROP \"orders\".\"Paid\", DROP ShipVIA");
  Q.ExecSQL();
  auto T = OpenTable(Db.Name(), "orders");
  EXPECT_EQ(3, T->FieldCount());
  Q.SQL().Clear();
  Q.SQL().Add("ALTER TABLE orders DROP SaleDate, DROP Nope");
  EXPECT_THROW(Q.ExecSQL(), ESQLError);
  Q.SQL().Clear();
  Q.SQL().Add("ALTER TABLE orders DROP OrderNo, DROP SaleDate");
  EXPECT_THROW(Q.ExecSQL(), EDatabaseError) << "SQLite refuses to drop the key";
  T = OpenTable(Db.Name(), "orders");
  EXPECT_EQ(3, T->FieldCount()) << "nothing dropped";
  Q.SQL().Clear();
  Q.SQL().Add("select * from orders");
  EXPECT_THROW(Q.ExecSQL(), ESQLError);
}

TEST_F(SqliteQuery, BatchMovesWriteWholeTablesOrNothing) {
  auto Orders = OpenTable(Db.Name(), "orders");
  // A database table into a table file and back into the database.
  const std::string Dir = std::filesystem::path(Db.Path()).parent_path().string();
  TTable File;
  File.SetDatabaseName(Dir);
  File.SetTableName(std::filesystem::path(Db.Path()).stem().string() + "-orders.db");
  EXPECT_EQ(600, File.BatchMove(Orders.get(), batCopy));
  File.Open();
  EXPECT_EQ(600, File.RecordCount());
  File.UpdateIndexDefs();
  EXPECT_EQ("OrderNo", File.IndexDefs()[0].Fields) << "the key goes with the copy";
  TTable Copy;
  Copy.SetDatabaseName(Db.Name());
  Copy.SetTableName("orders_copy");
  EXPECT_EQ(600, Copy.BatchMove(&File, batCopy));
  Copy.Open();
  EXPECT_EQ(Texts(*Orders, "SaleDate"), Texts(Copy, "SaleDate"));
  EXPECT_EQ("OrderNo", Copy.IndexDefs()[0].Fields);
  Copy.Close();
  File.Close();
  std::filesystem::remove(Dir + "/" + File.TableName());
  // A copy that fails (a Null into a required key) leaves the table as it was.
  TMemDataSet Bad;
  Bad.FieldDefs().Add("OrderNo", ftInteger, 0, true);
  Bad.CreateDataSet();
  Bad.AppendRecord({1});
  Bad.AppendRecord({Variant::Null()});
  EXPECT_THROW(Copy.BatchMove(&Bad, batCopy), EDatabaseError);
  EXPECT_EQ("600", Db.Scalar("SELECT count(*) FROM orders_copy"));
}

TEST_F(SqliteQuery, LongStatementsStopWhenAskedAndTheConnectionGoesOn) {
  std::shared_ptr<TDbConnection> Conn = ConnectDatabase(ResolveDatabase(Db.Name()));
  const std::string Long =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000000) "
      "SELECT count(*) FROM c";
  TDbRows Rows;
  int Reports = 0;
  const TProgressHandler Old = SetProgressHandler([&](const TProgress& P) {
    ++Reports;
    EXPECT_STREQ("Buscando", P.What);
    return false;
  });
  EXPECT_THROW(Conn->Query(Long, {}, Rows), EAborted);
  SetProgressHandler(Old);
  EXPECT_EQ(1, Reports);
  std::thread Stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Conn->Cancel();
  });
  try {
    Conn->Query(Long, {}, Rows);
    ADD_FAILURE() << "not cancelled";
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(0u, E.Message().find("La base de datos '" + Db.Path() + "' ha cancelado"));
  }
  Stopper.join();
  Conn->Query("SELECT count(*) FROM orders", {}, Rows);
  EXPECT_EQ(600, Rows.At(0, 0).Int);
}

}  // namespace
