// Columns of PostgreSQL types that have no field kind (uuid, json, arrays) are compared and
// ordered by their text in a query's statement and as a table's index order, as a filter over
// the same table compares them, instead of failing on the server.
#include <gtest/gtest.h>

#include "DbCursor.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;
using namespace pgtest;

namespace {

TEST(PgTextTypes, StatementsAndIndexOrdersGoByTheText) {
  TScratchDatabase Db;
  TPgConnection(Db.Uri()).Exec(
      "CREATE TABLE docs (id uuid PRIMARY KEY, doc json, tags integer[], n integer);"
      "INSERT INTO docs SELECT ('00000000-0000-0000-0000-' || lpad(i::text, 12, '0'))::uuid, "
      "('{\"k\": ' || (400 - i) || '}')::json, ARRAY[i, i % 3], i FROM generate_series(1, 300) i;"
      "INSERT INTO docs VALUES ('ffffffff-0000-0000-0000-000000000000', NULL, NULL, 0);"
      // Without a key: the rows' place in the table tells them apart.
      "CREATE TABLE loose (doc jsonb, n integer);"
      "INSERT INTO loose VALUES ('{\"a\": 1}', 1), ('{\"a\": 1}', 2), ('[2]', 3)");
  auto Query = [&](const std::string& Sql) {
    auto Q = std::make_unique<TQuery>();
    Q->SetDatabaseName(Db.Uri());
    Q->SQL().Add(Sql);
    Q->Open();
    return Q;
  };
  // Comparisons with text constants, ordering and like over the text.
  EXPECT_EQ("7", Texts(*Query("SELECT n FROM docs WHERE id = "
                              "'00000000-0000-0000-0000-000000000007'"),
                       "n"));
  EXPECT_EQ("10", Texts(*Query("SELECT n FROM docs WHERE doc = '{\"k\": 390}'"), "n"));
  EXPECT_EQ("1,2", Texts(*Query("SELECT d.n FROM docs d WHERE d.tags like '{_,%' AND d.n < 3 "
                                "ORDER BY d.doc DESC"),
                         "n"));
  EXPECT_EQ("3", Texts(*Query("SELECT n FROM loose WHERE doc <> '{\"a\": 1}'"), "n"));
  auto Ordered = Query("SELECT doc, n FROM loose ORDER BY doc");
  EXPECT_EQ("3,1,2", Texts(*Ordered, "n")) << "'[2]' before '{...}' in code point order";

  // A table ordered by a json column: windows, last record and a locate by the text.
  auto T = OpenTable(Db.Uri(), "docs", "doc");
  ASSERT_EQ(301, T->RecordCount());
  T->First();
  EXPECT_EQ(0, T->FieldByName("n")->AsInteger()) << "the Null first";
  T->Next();
  EXPECT_EQ("{\"k\": 100}", T->FieldByName("doc")->AsString());
  T->Last();
  EXPECT_EQ("{\"k\": 399}", T->FieldByName("doc")->AsString());
  for (T->First(); !T->Eof(); T->Next()) {
  }
  EXPECT_EQ(301, T->RecNo());
  EXPECT_TRUE(T->Locate("doc", Variant("{\"k\": 250}"), 0));
  EXPECT_EQ(150, T->FieldByName("n")->AsInteger());
}

}  // namespace
