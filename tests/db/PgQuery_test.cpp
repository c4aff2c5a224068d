// TQuery over a PostgreSQL database: the engine's statements written in the server's dialect
// (lower() with the platform's case mapping, LIKE by bytes without an escape character, dates
// as date literals) read a window at a time, with the records the same statements give on
// table files.
#include <gtest/gtest.h>

#include "DbCursor.h"
#include "LocalSQL.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace pgtest;

namespace {

class PgQuery : public ::testing::Test {
 protected:
  TScratchDatabase Db;

  void SetUp() override {
    TPgConnection(Db.Uri()).Exec(
        "CREATE TABLE customer (custno integer PRIMARY KEY, company varchar(30));"
        "INSERT INTO customer VALUES (1, 'Buceo Ñandú'), (2, 'Velero Azul'), "
        "(3, 'ÁNGEL Náutica'), (4, 'GROẞ a\\b%');"
        "CREATE TABLE orders (orderno integer PRIMARY KEY, custno integer, shipvia "
        "varchar(7), saledate timestamp(3), paid boolean);"
        "INSERT INTO orders SELECT i, 1 + i % 3, CASE WHEN i % 4 = 0 THEN NULL WHEN i % 2 = 1 "
        "THEN 'DHL' ELSE 'SEUR' END, TIMESTAMP '2024-01-15 10:30' + (i % 3) * INTERVAL "
        "'1 month', i % 2 = 1 FROM generate_series(1, 600) i");
  }

  std::unique_ptr<TQuery> Open(const std::string& Sql) {
    auto Q = std::make_unique<TQuery>();
    Q->SetDatabaseName(Db.Uri());
    Q->SQL().Add(Sql);
    Q->Open();
    return Q;
  }
};

TEST_F(PgQuery, TheEnginesStatementsRunOnTheServer) {
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
}

TEST_F(PgQuery, CaseAndPatternsMeanWhatTheyMeanOnTableFiles) {
  // The capital sharp s lowers to ß, as the platform lowers it; a backslash, '%' and '_' in a
  // text are its own characters once the pattern has passed them.
  EXPECT_EQ("4", Texts(*Open("select CustNo from customer where lower(Company) like \"groß%\""),
                       "CustNo"));
  EXPECT_EQ("4",
            Texts(*Open("select CustNo from customer where Company like \"%a\\b%\""), "CustNo"));
  EXPECT_EQ("", Texts(*Open("select CustNo from customer where Company like \"%A\\b%\""), "CustNo"))
      << "LIKE counts letter case";
  EXPECT_EQ("1", Texts(*Open("select CustNo from customer where upper(Company) = \"BUCEO ÑANDÚ\""),
                       "CustNo"));
  EXPECT_EQ("2", Texts(*Open("select CustNo from customer where instr(Company, \"Azul\") > 0"),
                       "CustNo"));
  auto Q = Open("select CustNo, round(CustNo / 3.0, 2) as R from customer where CustNo = 2");
  EXPECT_DOUBLE_EQ(0.67, Q->FieldByName("R")->AsFloat());
}

}  // namespace
