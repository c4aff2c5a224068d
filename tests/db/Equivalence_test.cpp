// The filter language over a SQLite database finds exactly the records it finds over table
// files: the same data in an in-memory dataset (the table-file filter) and copied into a SQLite
// table by a batch move, the same filter texts and options, compared record by record, filtered
// and stepping with FindFirst/FindNext/FindLast/FindPrior; Locate alike.
#include <gtest/gtest.h>

#include "SysUtils.h"
#include "db/EquivalenceCorpus.h"

using namespace kv;

namespace {

using equivalence::kTexts;

// The texts of a local-SQL expression over the table "mixed" in the order of Id, "" for Null.
std::vector<std::string> ColumnOf(const std::string& Database, const std::string& Expr) {
  TQuery Q;
  Q.SetDatabaseName(Database);
  Q.SQL().Add("SELECT Id, " + Expr + " AS X FROM mixed ORDER BY Id");
  Q.Open();
  std::vector<std::string> Out;
  for (Q.First(); !Q.Eof(); Q.Next()) Out.push_back(Q.FieldByName("X")->AsString());
  return Out;
}

class Equivalence : public equivalence::TCorpus {
 protected:
  TSqliteFile Db;

  void SetUp() override {
    CopyInto(Db.Name());
    Table = OpenTable(Db.Name(), "mixed");
  }
};

TEST_F(Equivalence, TypesSurviveTheCopy) {
  ASSERT_EQ(Mem.FieldCount(), Table->FieldCount());
  for (int I = 0; I < Mem.FieldCount(); ++I) {
    EXPECT_EQ(Mem.Fields(I)->FieldName(), Table->Fields(I)->FieldName());
    EXPECT_EQ(Mem.Fields(I)->DataType(), Table->Fields(I)->DataType())
        << Mem.Fields(I)->FieldName();
  }
  EXPECT_EQ("VARCHAR(30)", Db.Scalar("SELECT type FROM pragma_table_info('mixed') WHERE name='T'"));
  EXPECT_EQ("2024-01-03", Db.Scalar("SELECT D FROM mixed WHERE Id = 3"));
  EXPECT_EQ("2023-12-30 14:24:00", Db.Scalar("SELECT W FROM mixed WHERE Id = 3"));
  EXPECT_EQ("", Db.Scalar("SELECT coalesce(T, '') FROM mixed WHERE Id = 29")) << "empty is Null";
  for (Mem.First(); !Mem.Eof(); Mem.Next()) {
    ASSERT_TRUE(Table->Locate("Id", Mem.FieldByName("Id")->Value(), 0));
    for (int I = 0; I < Mem.FieldCount(); ++I)
      EXPECT_EQ(Mem.Fields(I)->DisplayText(), Table->Fields(I)->DisplayText())
          << Mem.Fields(I)->FieldName() << " of " << Mem.RecNo();
  }
}

TEST_F(Equivalence, AccentsIgnored) {
  AccentsIgnored([&](const std::string& Expr) { return ColumnOf(Db.Name(), Expr); });
}

TEST_F(Equivalence, TextComparisonsWithAndWithoutCase) {
  TextComparisonsWithAndWithoutCase();
}
TEST_F(Equivalence, NumbersDatesBooleansNullsAndConnectors) {
  NumbersDatesBooleansNullsAndConnectors();
}
TEST_F(Equivalence, WrongFiltersRaiseTheSameMessages) {
  WrongFiltersRaiseTheSameMessages();
}
TEST_F(Equivalence, LocateAndLookupFindTheSameRecord) {
  LocateAndLookupFindTheSameRecord();
}

// A database that holds an empty text (not written by us) reads it as empty, as table files do.
TEST_F(Equivalence, EmptyTextsAreEmptyValues) {
  Db.Exec("UPDATE mixed SET T = '' WHERE Id IN (3, 4)");
  EmptyTextsAreEmptyValues();
}

}  // namespace
